-- Stores one hit as it arrived, with the facts decoded from it and the ids of its user agent, reason and
-- uid's client; its own reason and user_agent columns stay empty.
INSERT INTO hits (received_us, path, body, accepted, reason, user_agent, day, client, rollup_key, value,
                  agent_id, reason_id, uid_client)
VALUES (?, ?, ?, ?, '', '', ?, ?, ?, ?, ?, ?, ?)
