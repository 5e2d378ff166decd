-- Removes a client's hits stored after an id, returning what each was counted as and the ids it refers to.
DELETE FROM hits WHERE id > ? AND client = ?
RETURNING day, rollup_key, accepted, coalesce(value, 0), reason, reason_id, agent_id, uid_client
