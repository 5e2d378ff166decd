-- pgbench, for zncip-collector-pg-cpu-bench: :n hits of clients already present under their keys that day
-- (:n is the collectors' mean batch in the same run) write the hits and their daily counts, in one
-- statement of one transaction.
\set c random(1, 1000)
WITH hit AS (
    INSERT INTO hits (received_us, path, body, accepted, reason, user_agent, day, client, rollup_key, value, agent_id)
    SELECT 1700000000000000, '/collect', 'v=1&tid=UA-582047-16&cid=cpu-client-123&t=event&ul=en-us&qt=1&an=App%20SP2%20x64&av=1.0&ec=Commands&ea=Execute&el=LINE%20(GROUP12)&ev=1234&r=1', true, '', '', 20000, 1 + (:c + i) % 1000, 1 + (:c + i) % 97, 1234, 1
    FROM generate_series(1, :n) i
    RETURNING rollup_key
)
INSERT INTO daily_counts AS d (day, key, shard, hits, value_sum)
SELECT 20000, rollup_key, :client_id, count(*), 1234 * count(*) FROM hit GROUP BY rollup_key ORDER BY rollup_key
ON CONFLICT (day, key, shard) DO UPDATE SET hits = d.hits + excluded.hits, value_sum = d.value_sum + excluded.value_sum;
