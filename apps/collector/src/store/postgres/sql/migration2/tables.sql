-- Schema 2, first part: each distinct user agent and rejection reason kept once, which hits refer to by
-- id, and the client of a hit's uid beside its cid (see the SQLite store's 004_texts_once.sql). Hits
-- stored before keep their texts in their own columns; nothing is rewritten. An agent is found by its
-- digest: an index entry cannot hold a whole agent, which may be longer than an index page allows.
-- The indexes on hits let forgetting find what still refers to an agent, a reason or a client.
CREATE TABLE user_agents (
    id    bigserial PRIMARY KEY,
    agent bytea NOT NULL
);
CREATE UNIQUE INDEX user_agents_by_digest ON user_agents (sha256(agent));
CREATE TABLE reasons (
    id     bigserial PRIMARY KEY,
    reason bytea NOT NULL UNIQUE
);
ALTER TABLE hits ADD COLUMN agent_id bigint, ADD COLUMN reason_id bigint, ADD COLUMN uid_client bigint;
CREATE INDEX hits_by_agent ON hits (agent_id) WHERE agent_id IS NOT NULL;
CREATE INDEX hits_by_reason ON hits (reason_id) WHERE reason_id IS NOT NULL;
CREATE INDEX hits_by_uid_client ON hits (uid_client) WHERE uid_client IS NOT NULL;
CREATE INDEX daily_counts_by_key ON daily_counts (key);
