-- The hits of client ?1 and, unless ?2 is NULL, those whose uid's client is ?2, each with its client and
-- the ids of its texts, by reading them all: the hits are not indexed by client.
SELECT id, client, agent_id, reason_id, uid_client FROM hits WHERE client = ?1 OR uid_client = ?2
