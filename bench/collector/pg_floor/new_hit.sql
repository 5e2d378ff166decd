-- pgbench, for zncip-collector-pg-cpu-bench: the rows a hit writes when its client is new that day under
-- the four keys of its command (the hit, its command's daily count, the client's presence under each key
-- and the first-visit count of each), in one statement of its own transaction, the least a session can do
-- to write them. Each session adds to counters of its own shard, as each collector's connection does.
\set c random(1000000000, 9000000000000)
\set k random(1, 97)
WITH hit AS (
    INSERT INTO hits (received_us, path, body, accepted, reason, user_agent, day, client, rollup_key, value, agent_id)
    VALUES (1700000000000000, '/collect', 'v=1&tid=UA-582047-16&cid=cpu-client-123&t=event&ul=en-us&qt=1&an=App%20SP2%20x64&av=1.0&ec=Commands&ea=Execute&el=LINE%20(GROUP12)&ev=1234&r=1', true, '', '', 20000, :c, :k, 1234, 1)
), counted AS (
    INSERT INTO daily_counts AS d (day, key, shard, hits, value_sum) VALUES (20000, :k, :client_id, 1, 1234)
    ON CONFLICT (day, key, shard) DO UPDATE SET hits = d.hits + excluded.hits, value_sum = d.value_sum + excluded.value_sum
), present AS (
    INSERT INTO presence (client, key, day) VALUES (:c, :k, 20000), (:c, 98, 20000), (:c, 99, 20000), (:c, 100, 20000)
    ON CONFLICT DO NOTHING
)
INSERT INTO first_visits AS f (day, previous_day, key, shard, clients)
VALUES (20000, -2147483648, :k, :client_id, 1), (20000, -2147483648, 98, :client_id, 1),
       (20000, -2147483648, 99, :client_id, 1), (20000, -2147483648, 100, :client_id, 1)
ON CONFLICT (day, previous_day, key, shard) DO UPDATE SET clients = f.clients + excluded.clients;
