-- pgbench, for zncip-collector-pg-cpu-bench: a hit of a client already present under its keys that day
-- writes the hit and its daily count.
\set c random(1, 1000)
\set k random(1, 97)
WITH hit AS (
    INSERT INTO hits (received_us, path, body, accepted, reason, user_agent, day, client, rollup_key, value, agent_id)
    VALUES (1700000000000000, '/collect', 'v=1&tid=UA-582047-16&cid=cpu-client-123&t=event&ul=en-us&qt=1&an=App%20SP2%20x64&av=1.0&ec=Commands&ea=Execute&el=LINE%20(GROUP12)&ev=1234&r=1', true, '', '', 20000, :c, :k, 1234, 1)
)
INSERT INTO daily_counts AS d (day, key, shard, hits, value_sum) VALUES (20000, :k, :client_id, 1, 1234)
ON CONFLICT (day, key, shard) DO UPDATE SET hits = d.hits + excluded.hits, value_sum = d.value_sum + excluded.value_sum;
