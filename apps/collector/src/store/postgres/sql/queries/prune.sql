-- Removes some of the raw hits before a day; run until it removes none, each run a short transaction.
DELETE FROM hits WHERE id IN (SELECT id FROM hits WHERE day < $1 LIMIT 10000)
