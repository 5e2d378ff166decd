-- Tells every connection that ids and presence it remembers may be gone.
UPDATE erasures SET generation = generation + 1
