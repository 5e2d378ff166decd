-- Each key and day a client was present under, in order.
SELECT key, day FROM presence WHERE client = ? ORDER BY key, day
