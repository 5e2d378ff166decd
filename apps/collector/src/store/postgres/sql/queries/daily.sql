-- Distinct clients per day of the keys Application (of one version, $3, when given) and All.
SELECT f.day, k.scope, k.application, k.version, k.type, k.category, k.action, k.label, sum(f.clients)::bigint
FROM first_visits f JOIN rollup_keys k ON k.id = f.key
WHERE k.scope IN (2, 3) AND f.day BETWEEN $1 AND $2 AND ($3::bytea IS NULL OR k.scope = 2 AND k.version = $3)
GROUP BY f.day, k.id HAVING sum(f.clients) > 0
