-- Adds hits (negative: takes them away) and their ev to a day's count under a key.
INSERT INTO daily_counts (day, key, hits, value_sum) VALUES (?, ?, ?, ?)
ON CONFLICT (day, key) DO UPDATE SET hits = hits + excluded.hits, value_sum = value_sum + excluded.value_sum
