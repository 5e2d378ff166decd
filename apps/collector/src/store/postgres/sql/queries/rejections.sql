-- Rejected hits per day and reason between two days, summed over the shards.
SELECT day, reason, sum(hits)::bigint FROM daily_rejections
WHERE day BETWEEN $1 AND $2 GROUP BY day, reason HAVING sum(hits) <> 0
