-- Removes user agent ?1 unless a hit stored after id ?2 refers to it (hits up to ?2 were read before).
DELETE FROM user_agents WHERE id = ?1 AND NOT EXISTS (SELECT 1 FROM hits WHERE id > ?2 AND agent_id = ?1)
