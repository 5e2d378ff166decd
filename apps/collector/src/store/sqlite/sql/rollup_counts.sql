-- The daily counts of days ?1 to ?2, of version ?3 or of all when NULL, by key id: a month holds some
-- 17,000 of them, and joining each to its key's seven texts cost three times as much as reading them.
SELECT c.day, c.key, c.hits, c.value_sum
FROM daily_counts c
WHERE c.day BETWEEN ?1 AND ?2 AND c.hits != 0
  AND (?3 IS NULL OR c.key IN (SELECT id FROM rollup_keys WHERE version = ?3))
