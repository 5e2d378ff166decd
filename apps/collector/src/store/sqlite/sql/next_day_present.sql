-- The first day after a day that a client was present under a key (NULL: none).
SELECT min(day) FROM presence WHERE client = ? AND key = ? AND day > ?
