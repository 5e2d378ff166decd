-- Of the user agents ?3, reasons ?4 and clients ?5 (JSON arrays of ids), those that a hit up to id ?1 of a
-- client not being forgotten (?2, a JSON array) still refers to: kind 0 agent, 1 reason, 2 client. Read
-- before forgetting takes the write lock; each lookup stops at the first such hit.
SELECT 0, c.value FROM json_each(?3) AS c WHERE EXISTS (
    SELECT 1 FROM hits h WHERE h.agent_id = c.value AND h.id <= ?1
    AND coalesce(h.client, 0) NOT IN (SELECT f.value FROM json_each(?2) AS f))
UNION ALL
SELECT 1, c.value FROM json_each(?4) AS c WHERE EXISTS (
    SELECT 1 FROM hits h WHERE h.reason_id = c.value AND h.id <= ?1
    AND coalesce(h.client, 0) NOT IN (SELECT f.value FROM json_each(?2) AS f))
UNION ALL
SELECT 2, c.value FROM json_each(?5) AS c WHERE EXISTS (
    SELECT 1 FROM hits h WHERE (h.client = c.value OR h.uid_client = c.value) AND h.id <= ?1
    AND coalesce(h.client, 0) NOT IN (SELECT f.value FROM json_each(?2) AS f))
