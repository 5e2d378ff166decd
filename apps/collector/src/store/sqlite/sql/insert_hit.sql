-- Stores one hit as it arrived, with the facts decoded from it.
INSERT INTO hits (received_us, path, body, accepted, reason, user_agent, day, client, rollup_key, value)
VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)
