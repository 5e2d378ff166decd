-- Removes a client's hits stored after an id, returning what each was counted as.
DELETE FROM hits WHERE id > ? AND client = ?
RETURNING day, rollup_key, accepted, coalesce(value, 0), reason
