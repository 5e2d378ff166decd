-- The latest ?3 rejected hits of days ?1 to ?2, newest first.
SELECT id, received_us, path, body, reason, user_agent FROM hits
WHERE accepted = 0 AND day BETWEEN ?1 AND ?2 ORDER BY day DESC, id DESC LIMIT ?3
