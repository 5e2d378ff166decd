-- The shard of the counters this connection adds to, given how many there are ($1).
SELECT (pg_backend_pid() % $1)::integer
