-- Removes every day a client was present.
DELETE FROM presence WHERE client = ?
