-- The last day before a day that a client was present under a key (NULL: none).
SELECT max(day) FROM presence WHERE client = ? AND key = ? AND day < ?
