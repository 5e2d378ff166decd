-- Schema 2: zncip_forget() removes every hit of one client and of each client that sent a hit with it as
-- uid, takes them out of the counters, then removes what they leave behind: the counter rows whose sum
-- over the shards they leave at zero, and the rollup keys, agents, reasons and uid clients that nothing
-- refers to any more. Appends wait meanwhile, as in schema 1, so the sums cannot move under it.
-- A key other than an Event key stands for the Event keys it sums up (the versions are read from the
-- Application keys), so it stays while one of them does; it is looked at once the Event keys went.
-- The server keeps the text between $$ as it is: the body is indented as it was first written, and stays so.
CREATE OR REPLACE FUNCTION zncip_forget(p_shard integer, p_cid bytea, OUT removed_hits bigint, OUT removed_days bigint)
LANGUAGE plpgsql AS $$
    DECLARE
        v_client bigint; v_clients bigint[];
        v_day integer[]; v_key bigint[]; v_rday integer[]; v_reason bytea[];
        v_agents bigint[]; v_reasons bigint[]; v_uids bigint[]; v_keys bigint[];
    BEGIN
        removed_hits := 0; removed_days := 0;
        PERFORM pg_advisory_xact_lock(7420, 2); -- waits for the batches under way, holds off new ones
        SELECT id INTO v_client FROM clients WHERE cid = p_cid;
        IF v_client IS NULL THEN
            RETURN;
        END IF;
        UPDATE erasures SET generation = generation + 1;
        SELECT array_agg(DISTINCT c ORDER BY c) INTO v_clients FROM (
            SELECT v_client UNION ALL SELECT client FROM hits WHERE uid_client = v_client AND client IS NOT NULL) x(c);
        PERFORM pg_advisory_xact_lock(l) FROM (
            SELECT DISTINCT zncip_pair_lock(client, key) AS l FROM presence WHERE client = ANY (v_clients) ORDER BY 1) x;

        WITH gone AS (
            DELETE FROM hits h WHERE h.client = ANY (v_clients)
            RETURNING h.day, h.rollup_key, h.accepted, h.value, h.reason AS old_reason, h.reason_id, h.agent_id,
                      h.uid_client
        ), texts AS (
            SELECT g.*, coalesce(r.reason, g.old_reason) AS reason FROM gone g LEFT JOIN reasons r ON r.id = g.reason_id
        ), counted AS (
            INSERT INTO daily_counts AS d (day, key, shard, hits, value_sum)
            SELECT day, rollup_key, p_shard, -count(*), -coalesce(sum(value), 0)
            FROM gone WHERE accepted GROUP BY 1, 2 ORDER BY 1, 2
            ON CONFLICT (day, key, shard) DO UPDATE
            SET hits = d.hits + excluded.hits, value_sum = d.value_sum + excluded.value_sum
            RETURNING day, key
        ), rejected AS (
            INSERT INTO daily_rejections AS d (day, reason, shard, hits)
            SELECT day, reason, p_shard, -count(*) FROM texts WHERE NOT accepted GROUP BY 1, 2 ORDER BY 1, 2
            ON CONFLICT (day, reason, shard) DO UPDATE SET hits = d.hits + excluded.hits
            RETURNING day, reason
        )
        SELECT (SELECT count(*) FROM gone),
               (SELECT array_agg(day) FROM counted), (SELECT array_agg(key) FROM counted),
               (SELECT array_agg(day) FROM rejected), (SELECT array_agg(reason) FROM rejected),
               (SELECT array_agg(DISTINCT agent_id) FROM gone WHERE agent_id IS NOT NULL),
               (SELECT array_agg(DISTINCT reason_id) FROM gone WHERE reason_id IS NOT NULL),
               (SELECT array_agg(DISTINCT uid_client) FROM gone WHERE uid_client IS NOT NULL)
        INTO removed_hits, v_day, v_key, v_rday, v_reason, v_agents, v_reasons, v_uids;

        -- Each day the client was present under a key was counted against the day before it.
        INSERT INTO first_visits AS f (day, previous_day, key, shard, clients)
        SELECT day, previous, key, p_shard, -1 FROM (
            SELECT p.day, coalesce(lag(p.day) OVER (PARTITION BY p.client, p.key ORDER BY p.day), -2147483648) AS previous,
                   p.key
            FROM presence p WHERE p.client = ANY (v_clients)) x
        ORDER BY 1, 2, 3
        ON CONFLICT (day, previous_day, key, shard) DO UPDATE SET clients = f.clients + excluded.clients;
        WITH present AS (DELETE FROM presence p WHERE p.client = ANY (v_clients) RETURNING p.key)
        SELECT count(*), array_agg(DISTINCT key) INTO removed_days, v_keys FROM present;
        DELETE FROM clients WHERE id = ANY (v_clients);

        DELETE FROM daily_counts d USING (
            SELECT c.day, c.key FROM daily_counts c JOIN unnest(v_day, v_key) t(day, key) ON c.day = t.day AND c.key = t.key
            GROUP BY c.day, c.key HAVING sum(c.hits) = 0) z
        WHERE d.day = z.day AND d.key = z.key;
        DELETE FROM daily_rejections d USING (
            SELECT r.day, r.reason FROM daily_rejections r JOIN unnest(v_rday, v_reason) t(day, reason)
                ON r.day = t.day AND r.reason = t.reason
            GROUP BY r.day, r.reason HAVING sum(r.hits) = 0) z
        WHERE d.day = z.day AND d.reason = z.reason;
        v_keys := v_keys || v_key;
        -- Counts of first visits summing to zero under those keys: those left here, and by late hits.
        DELETE FROM first_visits f USING (
            SELECT day, previous_day, key FROM first_visits WHERE key = ANY (v_keys)
            GROUP BY day, previous_day, key HAVING sum(clients) = 0) z
        WHERE f.day = z.day AND f.previous_day = z.previous_day AND f.key = z.key;
        DELETE FROM rollup_keys k WHERE k.id = ANY (v_keys) AND k.scope = 0
            AND NOT EXISTS (SELECT FROM daily_counts c WHERE c.key = k.id)
            AND NOT EXISTS (SELECT FROM first_visits f WHERE f.key = k.id);
        DELETE FROM rollup_keys k WHERE k.id = ANY (v_keys) AND k.scope <> 0
            AND NOT EXISTS (SELECT FROM first_visits f WHERE f.key = k.id)
            AND NOT EXISTS (SELECT FROM rollup_keys e WHERE e.scope = 0
                AND (k.scope = 3 OR e.application = k.application AND (k.scope = 1 OR e.version = k.version)
                     AND (k.scope = 2 OR e.type = k.type AND e.category = k.category AND e.action = k.action
                          AND e.label = k.label)));
        DELETE FROM user_agents a WHERE a.id = ANY (v_agents) AND NOT EXISTS (SELECT FROM hits h WHERE h.agent_id = a.id);
        DELETE FROM reasons r WHERE r.id = ANY (v_reasons) AND NOT EXISTS (SELECT FROM hits h WHERE h.reason_id = r.id);
        DELETE FROM clients c WHERE c.id = ANY (v_uids)
            AND NOT EXISTS (SELECT FROM hits h WHERE h.client = c.id)
            AND NOT EXISTS (SELECT FROM hits h WHERE h.uid_client = c.id)
            AND NOT EXISTS (SELECT FROM presence p WHERE p.client = c.id);
    END
    $$;
