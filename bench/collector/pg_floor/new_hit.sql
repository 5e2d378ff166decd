-- pgbench, for zncip-collector-pg-cpu-bench: the rows :n hits write when their clients are new that day
-- under the four keys of their command (each hit, its command's daily count, the client's presence under
-- each key and the first-visit count of each), in one statement of one transaction, the least a session
-- can do to write a batch of them. :n is the collectors' mean batch in the same run. Each session adds to
-- counters of its own shard, as each collector's connection does.
\set c random(1000000000, 9000000000000)
WITH hit AS (
    INSERT INTO hits (received_us, path, body, accepted, reason, user_agent, day, client, rollup_key, value, agent_id)
    SELECT 1700000000000000, '/collect', 'v=1&tid=UA-582047-16&cid=cpu-client-123&t=event&ul=en-us&qt=1&an=App%20SP2%20x64&av=1.0&ec=Commands&ea=Execute&el=LINE%20(GROUP12)&ev=1234&r=1', true, '', '', 20000, :c::bigint + i, 1 + (:c::bigint + i) % 97, 1234, 1
    FROM generate_series(1, :n) i
    RETURNING client, rollup_key
), counted AS (
    INSERT INTO daily_counts AS d (day, key, shard, hits, value_sum)
    SELECT 20000, rollup_key, :client_id, count(*), 1234 * count(*) FROM hit GROUP BY rollup_key ORDER BY rollup_key
    ON CONFLICT (day, key, shard) DO UPDATE SET hits = d.hits + excluded.hits, value_sum = d.value_sum + excluded.value_sum
), present AS (
    INSERT INTO presence (client, key, day)
    SELECT client, k, 20000 FROM hit CROSS JOIN LATERAL (VALUES (rollup_key), (98), (99), (100)) x(k) ORDER BY 1, 2
    ON CONFLICT DO NOTHING
)
INSERT INTO first_visits AS f (day, previous_day, key, shard, clients)
SELECT 20000, -2147483648, k, :client_id, count(*) FROM hit CROSS JOIN LATERAL (VALUES (rollup_key), (98), (99), (100)) x(k)
GROUP BY k ORDER BY k
ON CONFLICT (day, previous_day, key, shard) DO UPDATE SET clients = f.clients + excluded.clients;
