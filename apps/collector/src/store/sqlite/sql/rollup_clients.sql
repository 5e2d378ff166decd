-- Distinct clients of days ?1 to ?2 by key: of version ?3 its events (scope 0) and itself (scope 2), or
-- when ?3 is NULL the events of any version (1), each application version (2) and all hits (3), and of
-- each version the event of category ?4, action and label ?5 (0): the bad sessions.
-- One index range per day: the rows of the day whose previous day lies before the period, summed by key
-- before the key's texts are joined, so that the sort of the grouping carries integers only.
WITH RECURSIVE days(d) AS (SELECT ?1 UNION ALL SELECT d + 1 FROM days WHERE d < ?2),
per_key(key, clients) AS (
    SELECT f.key, sum(f.clients) FROM days JOIN first_visits f ON f.day = days.d AND f.previous_day < ?1
    GROUP BY f.key)
SELECT k.scope, k.application, k.version, k.type, k.category, k.action, k.label, p.clients
FROM per_key p JOIN rollup_keys k ON k.id = p.key
WHERE p.clients > 0
  AND CASE WHEN ?3 IS NULL
           THEN k.scope IN (1, 2, 3) OR k.scope = 0 AND k.category = ?4 AND k.action = ?5 AND k.label = ?5
           ELSE k.scope IN (0, 2) AND k.version = ?3 END
