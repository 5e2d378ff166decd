-- The id of the last hit stored (0: none), which later hits of a client being forgotten follow.
SELECT coalesce(max(id), 0) FROM hits
