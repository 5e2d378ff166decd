-- Removes the counts of first visits at zero under the rollup keys ?1 (a JSON array of ids): those
-- forgetting left, and those a late hit left when a later day came to follow it.
DELETE FROM first_visits WHERE key IN (SELECT value FROM json_each(?1)) AND clients = 0
