-- Links a hit kept before schema 4 to the client of its uid beside its cid: the client, the hit.
UPDATE hits SET uid_client = ? WHERE id = ?
