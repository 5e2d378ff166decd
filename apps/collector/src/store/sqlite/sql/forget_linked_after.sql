-- The clients of hits stored after id ?1 whose uid's client is ?2.
SELECT DISTINCT client FROM hits WHERE id > ?1 AND uid_client = ?2 AND client IS NOT NULL
