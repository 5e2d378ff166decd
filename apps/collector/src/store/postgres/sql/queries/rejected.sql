-- The latest rejected hits between two days, newest first, at most $3.
SELECT id, received_us, path, body, reason, user_agent FROM hits
WHERE NOT accepted AND day BETWEEN $1 AND $2 ORDER BY day DESC, id DESC LIMIT $3
