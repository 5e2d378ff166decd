-- Every stored hit, in the order of arrival.
SELECT id, received_us, path, body, accepted, reason, user_agent FROM hits ORDER BY id
