-- Removes one hit of a client, returning what it was counted as.
DELETE FROM hits WHERE id = ? AND client = ?
RETURNING day, rollup_key, accepted, coalesce(value, 0), reason
