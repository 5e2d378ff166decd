-- Distinct clients per key over the days $1..$2: those whose first day in the period falls in it. Without
-- a version, the keys EventAnyVersion, Application and All, and of each version the Event of category $4,
-- action and label $5 (the bad sessions); with one ($3), Event and Application of it.
SELECT k.scope, k.application, k.version, k.type, k.category, k.action, k.label, sum(f.clients)::bigint
FROM first_visits f JOIN rollup_keys k ON k.id = f.key
WHERE f.day BETWEEN $1 AND $2 AND f.previous_day < $1
  AND CASE WHEN $3::bytea IS NULL
           THEN k.scope IN (1, 2, 3) OR k.scope = 0 AND k.category = $4 AND k.action = $5 AND k.label = $5
           ELSE k.scope IN (0, 2) AND k.version = $3 END
GROUP BY k.id HAVING sum(f.clients) > 0
