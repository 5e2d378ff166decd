-- The ids of a client's hits, by reading them all: the hits are not indexed by client.
SELECT id FROM hits WHERE client = ?
