-- Hits and value sums per day and key id between two days, of one version ($3) or of all (null), summed
-- over the shards. The keys' texts are read once (keys.sql): joined to each of a month's counts, they cost
-- more than the counts.
SELECT c.day, c.key, sum(c.hits)::bigint, sum(c.value_sum)::bigint
FROM daily_counts c
WHERE c.day BETWEEN $1 AND $2
  AND ($3::bytea IS NULL OR c.key IN (SELECT id FROM rollup_keys WHERE version = $3))
GROUP BY c.day, c.key HAVING sum(c.hits) <> 0
