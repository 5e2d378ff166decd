-- The daily counts of days ?1 to ?2, of version ?3 or of all when NULL, with their keys.
SELECT c.day, k.scope, k.application, k.version, k.type, k.category, k.action, k.label, c.hits, c.value_sum
FROM daily_counts c JOIN rollup_keys k ON k.id = c.key
WHERE c.day BETWEEN ?1 AND ?2 AND (?3 IS NULL OR k.version = ?3) AND c.hits != 0
