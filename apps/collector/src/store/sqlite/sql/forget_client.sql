-- Removes a client's id.
DELETE FROM clients WHERE id = ?
