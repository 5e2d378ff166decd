-- Schema 4, second part: the rejected hits of a few days found without reading every hit of those days
-- (queries/rejected.sql). Made on the partitioned table, so on each partition, those made later included.
CREATE INDEX hits_rejected_by_day ON hits (day, id) WHERE NOT accepted;
