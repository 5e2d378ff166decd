-- index daily_counts_by_key on daily_counts
CREATE INDEX daily_counts_by_key ON daily_counts (key);

-- index first_visits_by_key on first_visits
CREATE INDEX first_visits_by_key ON first_visits (key, day);

-- index hits_by_day on hits
CREATE INDEX hits_by_day ON hits (day);

-- index rejected_hits_by_day on hits
CREATE INDEX rejected_hits_by_day ON hits (day) WHERE accepted = 0;

-- index sqlite_autoindex_clients_1 on clients (automatic)

-- index sqlite_autoindex_reasons_1 on reasons (automatic)

-- index sqlite_autoindex_rollup_keys_1 on rollup_keys (automatic)

-- index sqlite_autoindex_user_agents_1 on user_agents (automatic)

-- table clients on clients
CREATE TABLE clients (
        id  INTEGER PRIMARY KEY,
        cid TEXT NOT NULL UNIQUE
    );

-- table daily_counts on daily_counts
CREATE TABLE daily_counts (
        day       INTEGER NOT NULL,
        key       INTEGER NOT NULL,
        hits      INTEGER NOT NULL,
        value_sum INTEGER NOT NULL,
        PRIMARY KEY (day, key)
    ) WITHOUT ROWID;

-- table daily_rejections on daily_rejections
CREATE TABLE daily_rejections (
        day    INTEGER NOT NULL,
        reason TEXT    NOT NULL,
        hits   INTEGER NOT NULL,
        PRIMARY KEY (day, reason)
    ) WITHOUT ROWID;

-- table erasures on erasures
CREATE TABLE erasures (generation INTEGER NOT NULL);

-- table first_visits on first_visits
CREATE TABLE first_visits (
        day          INTEGER NOT NULL,
        previous_day INTEGER NOT NULL,
        key          INTEGER NOT NULL,
        clients      INTEGER NOT NULL,
        PRIMARY KEY (day, previous_day, key)
    ) WITHOUT ROWID;

-- table hits on hits
CREATE TABLE hits (
        id          INTEGER PRIMARY KEY,
        received_us INTEGER NOT NULL,
        path        TEXT    NOT NULL,
        body        BLOB    NOT NULL,
        accepted    INTEGER NOT NULL,
        reason      TEXT    NOT NULL,
        user_agent  TEXT    NOT NULL
    , day INTEGER, client INTEGER, rollup_key INTEGER, value INTEGER, agent_id INTEGER, reason_id INTEGER, uid_client INTEGER);

-- table presence on presence
CREATE TABLE presence (
        client INTEGER NOT NULL,
        key    INTEGER NOT NULL,
        day    INTEGER NOT NULL,
        PRIMARY KEY (client, key, day)
    ) WITHOUT ROWID;

-- table reasons on reasons
CREATE TABLE reasons (
        id     INTEGER PRIMARY KEY,
        reason TEXT    NOT NULL UNIQUE
    );

-- table rollup_keys on rollup_keys
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

-- table schema_version on schema_version
CREATE TABLE schema_version (version INTEGER NOT NULL, applied_us INTEGER NOT NULL);

-- table user_agents on user_agents
CREATE TABLE user_agents (
        id    INTEGER PRIMARY KEY,
        agent TEXT    NOT NULL UNIQUE
    );

-- PRAGMA journal_mode: wal
-- PRAGMA user_version: 0
-- schema_version: 1 2 3 4
-- erasures: 0
