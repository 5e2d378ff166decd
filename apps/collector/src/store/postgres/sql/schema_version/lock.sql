-- Lets collectors that start at once migrate one after the other: $1 the program's lock space, $2 the lock.
SELECT pg_advisory_xact_lock($1, $2)
