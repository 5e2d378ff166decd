-- Removes reason ?1 unless a hit stored after id ?2 refers to it (hits up to ?2 were read before).
DELETE FROM reasons WHERE id = ?1 AND NOT EXISTS (SELECT 1 FROM hits WHERE id > ?2 AND reason_id = ?1)
