-- Schema 1, first part: the tables and indexes. They are those of the SQLite store, for several collectors
-- writing at once: the counters (daily_counts, daily_rejections, first_visits) have a shard in their key;
-- each connection adds to its own shard, so collectors do not wait for each other on the rows of a busy
-- day, and readers sum over the shards. Every text is bytea: bodies, agents and decoded parameters are
-- bytes, compared as bytes, as in SQLite.
CREATE TABLE hits (
    id          bigserial PRIMARY KEY,
    received_us bigint  NOT NULL,
    path        bytea   NOT NULL,
    body        bytea   NOT NULL,
    accepted    boolean NOT NULL,
    reason      bytea   NOT NULL,
    user_agent  bytea   NOT NULL,
    day         integer,
    client      bigint,
    rollup_key  bigint,
    value       bigint
);
CREATE TABLE clients (
    id  bigserial PRIMARY KEY,
    cid bytea NOT NULL UNIQUE
);
CREATE TABLE rollup_keys (
    id          bigserial PRIMARY KEY,
    scope       integer NOT NULL,
    application bytea   NOT NULL,
    version     bytea   NOT NULL,
    type        bytea   NOT NULL,
    category    bytea   NOT NULL,
    action      bytea   NOT NULL,
    label       bytea   NOT NULL,
    UNIQUE (scope, application, version, type, category, action, label)
);
CREATE TABLE daily_counts (
    day       integer  NOT NULL,
    key       bigint   NOT NULL,
    shard     smallint NOT NULL,
    hits      bigint   NOT NULL,
    value_sum bigint   NOT NULL,
    PRIMARY KEY (day, key, shard)
);
CREATE TABLE daily_rejections (
    day    integer  NOT NULL,
    reason bytea    NOT NULL,
    shard  smallint NOT NULL,
    hits   bigint   NOT NULL,
    PRIMARY KEY (day, reason, shard)
);
CREATE TABLE presence (
    client bigint  NOT NULL,
    key    bigint  NOT NULL,
    day    integer NOT NULL,
    PRIMARY KEY (client, key, day)
);
CREATE TABLE first_visits (
    day          integer  NOT NULL,
    previous_day integer  NOT NULL,
    key          bigint   NOT NULL,
    shard        smallint NOT NULL,
    clients      bigint   NOT NULL,
    PRIMARY KEY (day, previous_day, key, shard)
);
CREATE INDEX first_visits_by_key ON first_visits (key, day);
CREATE INDEX hits_by_client ON hits (client) WHERE client IS NOT NULL;
CREATE INDEX hits_by_day ON hits (day);
-- Counts the clients forgotten, so that a collector knows when what it remembers of presence is stale.
CREATE TABLE erasures (generation bigint NOT NULL);
INSERT INTO erasures VALUES (0);
