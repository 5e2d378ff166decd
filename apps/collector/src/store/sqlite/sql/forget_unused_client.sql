-- Removes client ?1 unless it is present under a key (its hits may be pruned) or a hit stored after id ?2
-- names it (hits up to ?2 were read before).
DELETE FROM clients WHERE id = ?1 AND NOT EXISTS (SELECT 1 FROM presence WHERE client = ?1)
AND NOT EXISTS (SELECT 1 FROM hits WHERE id > ?2 AND (client = ?1 OR uid_client = ?1))
