-- Hits and value sums per day and Event key between two days, of one version ($3) or of all (null),
-- summed over the shards.
SELECT c.day, k.scope, k.application, k.version, k.type, k.category, k.action, k.label,
       sum(c.hits)::bigint, sum(c.value_sum)::bigint
FROM daily_counts c JOIN rollup_keys k ON k.id = c.key
WHERE c.day BETWEEN $1 AND $2 AND ($3::bytea IS NULL OR k.version = $3)
GROUP BY c.day, k.id HAVING sum(c.hits) <> 0
