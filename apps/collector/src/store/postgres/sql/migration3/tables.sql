-- Schema 3: the raw hits partitioned by day (RANGE on day): one partition per day, hits_YYYYMMDD, made
-- ahead by zncip_prepare_days(), and hits_default for a hit whose day has none, so that none is refused.
-- Retention then drops a day whole instead of deleting its rows one by one. The hits stored before are
-- copied once into a partition for each day they hold, ids and bytes as they were, and the sequence goes
-- on. The primary key must hold the partition key: (id, day), with day NOT NULL (a hit stored without one,
-- which no build wrote, takes the day of its arrival). Every index the statements use is made again on
-- the partitioned table. The copy writes the table once more: the upgrade takes time and log in
-- proportion, holding the migration lock meanwhile.
-- An older build refuses a database of schema 3 at start ("written by a newer collector"), as it refuses
-- every newer schema. One started before the upgrade stores on: it waits while the upgrade runs, and its
-- statements are planned again on the partitioned table, into which the server routes each row.
ALTER TABLE hits RENAME TO hits_before_partitions;
CREATE TABLE hits (
    id          bigint  NOT NULL DEFAULT nextval('hits_id_seq'),
    received_us bigint  NOT NULL,
    path        bytea   NOT NULL,
    body        bytea   NOT NULL,
    accepted    boolean NOT NULL,
    reason      bytea   NOT NULL,
    user_agent  bytea   NOT NULL,
    day         integer NOT NULL,
    client      bigint,
    rollup_key  bigint,
    value       bigint,
    agent_id    bigint,
    reason_id   bigint,
    uid_client  bigint
) PARTITION BY RANGE (day);
ALTER SEQUENCE hits_id_seq OWNED BY hits.id;
CREATE TABLE hits_default PARTITION OF hits DEFAULT;

UPDATE hits_before_partitions SET day = floor(received_us / 86400000000.0)::integer WHERE day IS NULL;
SELECT count(zncip_prepare_days(day, day)) FROM (SELECT DISTINCT day FROM hits_before_partitions ORDER BY 1) d;
INSERT INTO hits SELECT * FROM hits_before_partitions ORDER BY id;
DROP TABLE hits_before_partitions;

ALTER TABLE hits ADD PRIMARY KEY (id, day);
CREATE INDEX hits_by_client ON hits (client) WHERE client IS NOT NULL;
CREATE INDEX hits_by_day ON hits (day);
CREATE INDEX hits_by_agent ON hits (agent_id) WHERE agent_id IS NOT NULL;
CREATE INDEX hits_by_reason ON hits (reason_id) WHERE reason_id IS NOT NULL;
CREATE INDEX hits_by_uid_client ON hits (uid_client) WHERE uid_client IS NOT NULL;
