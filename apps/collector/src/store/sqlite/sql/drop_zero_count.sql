-- Removes a day's count under a key that forgetting left at zero: day, key.
DELETE FROM daily_counts WHERE day = ?1 AND key = ?2 AND hits = 0
