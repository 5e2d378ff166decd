-- Removes some of the raw hits before a day that no partition of their day held (those in hits_default),
-- after zncip_drop_days_before(); run until it removes none, each run a short transaction. Both conditions
-- on day let the server read only the partitions that may hold such hits.
DELETE FROM hits WHERE id IN (SELECT id FROM hits WHERE day < $1 LIMIT 10000) AND day < $1
