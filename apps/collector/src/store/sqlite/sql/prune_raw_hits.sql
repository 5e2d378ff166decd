-- Removes up to 10000 raw hits received before a day: one short transaction's worth.
DELETE FROM hits WHERE id IN (SELECT id FROM hits WHERE day < ? LIMIT 10000)
