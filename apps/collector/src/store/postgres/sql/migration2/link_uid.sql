-- Schema 2: links a hit stored before it ($2) to the client of its uid beside its cid ($1), added when new.
WITH added AS (INSERT INTO clients (cid) VALUES ($1) ON CONFLICT DO NOTHING RETURNING id)
UPDATE hits SET uid_client = coalesce((SELECT id FROM added), (SELECT id FROM clients WHERE cid = $1))
WHERE id = $2::bigint
