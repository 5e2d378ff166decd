-- Schema 4: each distinct user agent and rejection reason kept once, which hits refer to by id, and the
-- client of a hit's uid beside its cid.
-- A hit stored from now on leaves its reason and user_agent columns empty and sets reason_id and
-- agent_id (NULL for an empty text); one stored before keeps its texts where they were, so that no table
-- is rewritten: readers take the text of the id when there is one, and the column's otherwise.
-- uid_client: for a hit that carries both a cid (its client) and a different uid, the client id of the
-- uid, so that forgetting the uid forgets every client that sent it.
-- daily_counts_by_key: forgetting finds whether a rollup key still counts any hit.
    CREATE TABLE user_agents (
        id    INTEGER PRIMARY KEY,
        agent TEXT    NOT NULL UNIQUE
    );
    CREATE TABLE reasons (
        id     INTEGER PRIMARY KEY,
        reason TEXT    NOT NULL UNIQUE
    );
    ALTER TABLE hits ADD COLUMN agent_id INTEGER;
    ALTER TABLE hits ADD COLUMN reason_id INTEGER;
    ALTER TABLE hits ADD COLUMN uid_client INTEGER;
    CREATE INDEX daily_counts_by_key ON daily_counts (key);
