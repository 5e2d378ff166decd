-- Drops the partitions of the raw hits of the days before $1: how many hits they held.
SELECT zncip_drop_days_before($1)
