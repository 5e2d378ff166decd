-- Schema 1: zncip_pair_lock(), the lock that serialises the day arithmetic of one (client, key). Locks of
-- the whole database take two integers, which PostgreSQL keeps apart from these.
-- The server keeps the text between $$ as it is: it stays as first written.
CREATE FUNCTION zncip_pair_lock(p_client bigint, p_key bigint) RETURNS bigint
LANGUAGE sql IMMUTABLE AS $$ SELECT p_client # (p_key << 32) $$;
