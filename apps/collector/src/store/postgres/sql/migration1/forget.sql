-- Schema 1: zncip_forget(), which removes every hit of one client and takes it out of the counters.
-- The server keeps the text between $$ as it is: the body is indented as it was first written, and stays so.
CREATE FUNCTION zncip_forget(p_shard integer, p_cid bytea, OUT removed_hits bigint, OUT removed_days bigint)
LANGUAGE plpgsql AS $$
    DECLARE
        v_client bigint;
    BEGIN
        removed_hits := 0; removed_days := 0;
        PERFORM pg_advisory_xact_lock(7420, 2); -- waits for the batches under way, holds off new ones
        SELECT id INTO v_client FROM clients WHERE cid = p_cid;
        IF v_client IS NULL THEN
            RETURN;
        END IF;
        UPDATE erasures SET generation = generation + 1;
        PERFORM pg_advisory_xact_lock(l) FROM (
            SELECT DISTINCT zncip_pair_lock(client, key) AS l FROM presence WHERE client = v_client ORDER BY 1) x;

        INSERT INTO daily_counts AS d (day, key, shard, hits, value_sum)
        SELECT h.day, h.rollup_key, p_shard, -count(*), -coalesce(sum(h.value), 0)
        FROM hits h WHERE h.client = v_client AND h.accepted GROUP BY 1, 2 ORDER BY 1, 2
        ON CONFLICT (day, key, shard) DO UPDATE
        SET hits = d.hits + excluded.hits, value_sum = d.value_sum + excluded.value_sum;
        INSERT INTO daily_rejections AS d (day, reason, shard, hits)
        SELECT h.day, h.reason, p_shard, -count(*)
        FROM hits h WHERE h.client = v_client AND NOT h.accepted GROUP BY 1, 2 ORDER BY 1, 2
        ON CONFLICT (day, reason, shard) DO UPDATE SET hits = d.hits + excluded.hits;
        DELETE FROM hits h WHERE h.client = v_client;
        GET DIAGNOSTICS removed_hits = ROW_COUNT;

        -- Each day the client was present under a key was counted against the day before it.
        INSERT INTO first_visits AS f (day, previous_day, key, shard, clients)
        SELECT day, previous, key, p_shard, -1 FROM (
            SELECT p.day, coalesce(lag(p.day) OVER (PARTITION BY p.key ORDER BY p.day), -2147483648) AS previous,
                   p.key
            FROM presence p WHERE p.client = v_client) x
        ORDER BY 1, 2, 3
        ON CONFLICT (day, previous_day, key, shard) DO UPDATE SET clients = f.clients + excluded.clients;
        DELETE FROM presence p WHERE p.client = v_client;
        GET DIAGNOSTICS removed_days = ROW_COUNT;
        DELETE FROM clients WHERE id = v_client;
    END
    $$;
