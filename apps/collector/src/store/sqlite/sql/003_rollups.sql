-- Schema 3: the facts of each hit beside it, and the daily rollups that the reports read.
-- How the rollups count distinct clients over any period without reading per-client rows: presence holds
-- one row per (client, key, day) on which the client sent a hit under the key, and first_visits counts
-- those rows by (day, previous day the same client was present under the key). The clients present under
-- a key between days F and T are then those with a presence row in [F, T] whose previous one is before F:
-- each such client has exactly one, its first in the period. A client's first day under a key has as
-- previous_day a day before every real one (schema::kNoDay in the code).
-- rollup_keys.scope: 0 event, 1 event in any version, 2 application and version, 3 every accepted hit.
-- Stored hits are decoded and counted in the same transaction once this has run.
    DROP INDEX hits_by_verdict;
    ALTER TABLE hits ADD COLUMN day INTEGER;
    ALTER TABLE hits ADD COLUMN client INTEGER;
    ALTER TABLE hits ADD COLUMN rollup_key INTEGER;
    ALTER TABLE hits ADD COLUMN value INTEGER;
    CREATE TABLE clients (
        id  INTEGER PRIMARY KEY,
        cid TEXT NOT NULL UNIQUE
    );
    CREATE TABLE rollup_keys (
        id          INTEGER PRIMARY KEY,
        scope       INTEGER NOT NULL,
        application TEXT    NOT NULL,
        version     TEXT    NOT NULL,
        type        TEXT    NOT NULL,
        category    TEXT    NOT NULL,
        action      TEXT    NOT NULL,
        label       TEXT    NOT NULL,
        UNIQUE (scope, application, version, type, category, action, label)
    );
    CREATE TABLE daily_counts (
        day       INTEGER NOT NULL,
        key       INTEGER NOT NULL,
        hits      INTEGER NOT NULL,
        value_sum INTEGER NOT NULL,
        PRIMARY KEY (day, key)
    ) WITHOUT ROWID;
    CREATE TABLE daily_rejections (
        day    INTEGER NOT NULL,
        reason TEXT    NOT NULL,
        hits   INTEGER NOT NULL,
        PRIMARY KEY (day, reason)
    ) WITHOUT ROWID;
    CREATE TABLE presence (
        client INTEGER NOT NULL,
        key    INTEGER NOT NULL,
        day    INTEGER NOT NULL,
        PRIMARY KEY (client, key, day)
    ) WITHOUT ROWID;
    CREATE TABLE first_visits (
        day          INTEGER NOT NULL,
        previous_day INTEGER NOT NULL,
        key          INTEGER NOT NULL,
        clients      INTEGER NOT NULL,
        PRIMARY KEY (day, previous_day, key)
    ) WITHOUT ROWID;
    CREATE INDEX first_visits_by_key ON first_visits (key, day);
    CREATE TABLE erasures (generation INTEGER NOT NULL);
    INSERT INTO erasures VALUES (0);
    CREATE INDEX hits_by_day ON hits (day);
    CREATE INDEX rejected_hits_by_day ON hits (day) WHERE accepted = 0;
