-- Forgets one client on this connection's shard: how many hits and (key, day) entries went.
SELECT removed_hits, removed_days FROM zncip_forget($1, $2)
