-- Distinct clients of each day ?1 to ?2 by application version (scope 2) and of all hits (3); of version
-- ?3 only when it is not NULL.
SELECT f.day, k.scope, k.application, k.version, k.type, k.category, k.action, k.label, sum(f.clients)
FROM rollup_keys k CROSS JOIN first_visits f ON f.key = k.id
WHERE k.scope IN (2, 3) AND f.day BETWEEN ?1 AND ?2 AND (?3 IS NULL OR k.scope = 2 AND k.version = ?3)
GROUP BY f.day, f.key HAVING sum(f.clients) > 0
