-- Makes the missing partitions of the raw hits of the days $1..$2: how many it made.
SELECT zncip_prepare_days($1, $2)
