--
-- PostgreSQL database dump
--




--
-- Name: zncip_append(integer, bigint, boolean[], bigint[], bytea[], bytea[], boolean[], bytea[], bytea[], integer[], bytea[], bytea[], bytea[], bytea[], bytea[], bytea[], bytea[], bigint[]); Type: FUNCTION; Schema: public; Owner: -
--

CREATE FUNCTION public.zncip_append(p_shard integer, p_generation bigint, p_known boolean[], p_received bigint[], p_path bytea[], p_body bytea[], p_accepted boolean[], p_reason bytea[], p_agent bytea[], p_day integer[], p_cid bytea[], p_application bytea[], p_version bytea[], p_type bytea[], p_category bytea[], p_action bytea[], p_label bytea[], p_value bigint[]) RETURNS bigint
    LANGUAGE sql
    AS $$
    SELECT zncip_append(p_shard, p_generation, p_known, p_received, p_path, p_body, p_accepted, p_reason,
                        p_agent, p_day, p_cid, p_application, p_version, p_type, p_category, p_action,
                        p_label, p_value, '{}'::bytea[])
    $$;


--
-- Name: zncip_append(integer, bigint, boolean[], bigint[], bytea[], bytea[], boolean[], bytea[], bytea[], integer[], bytea[], bytea[], bytea[], bytea[], bytea[], bytea[], bytea[], bigint[], bytea[]); Type: FUNCTION; Schema: public; Owner: -
--

CREATE FUNCTION public.zncip_append(p_shard integer, p_generation bigint, p_known boolean[], p_received bigint[], p_path bytea[], p_body bytea[], p_accepted boolean[], p_reason bytea[], p_agent bytea[], p_day integer[], p_cid bytea[], p_application bytea[], p_version bytea[], p_type bytea[], p_category bytea[], p_action bytea[], p_label bytea[], p_value bigint[], p_uid bytea[]) RETURNS bigint
    LANGUAGE plpgsql
    SET plan_cache_mode TO 'force_generic_plan'
    AS $$
    DECLARE
        v_generation bigint; v_new boolean;
        v_client bigint[]; v_key bigint[]; v_day integer[];
    BEGIN
        -- A client being forgotten is forgotten before these hits are stored, or after.
        PERFORM pg_advisory_xact_lock_shared(7420, 2);
        SELECT generation INTO v_generation FROM erasures;
        IF v_generation <> p_generation THEN
            p_known := NULL;
        END IF;
        v_new := EXISTS (SELECT FROM unnest(p_accepted, p_cid, p_known) x(ok, cid, known)
                         WHERE known IS NOT TRUE AND (ok OR cid IS NOT NULL))
                 OR EXISTS (SELECT FROM unnest(p_uid) u WHERE u IS NOT NULL);

        INSERT INTO user_agents (agent)
        SELECT DISTINCT a FROM unnest(p_agent) a WHERE a <> '' ORDER BY 1
        ON CONFLICT DO NOTHING;
        INSERT INTO reasons (reason)
        SELECT DISTINCT r FROM unnest(p_reason) r WHERE r <> '' ORDER BY 1
        ON CONFLICT DO NOTHING;

        IF v_new THEN
        INSERT INTO clients (cid)
        SELECT DISTINCT c FROM unnest(p_cid || p_uid) c WHERE c IS NOT NULL ORDER BY 1
        ON CONFLICT DO NOTHING;

        INSERT INTO rollup_keys (scope, application, version, type, category, action, label)
        SELECT DISTINCT k.* FROM unnest(p_accepted, p_application, p_version, p_type, p_category,
                                        p_action, p_label) h(ok, a, v, t, c, e, l)
        CROSS JOIN LATERAL (VALUES (0, a, v, t, c, e, l), (1, a, ''::bytea, t, c, e, l),
                                   (2, a, v, '', '', '', ''), (3, '', '', '', '', '', '')) k
        WHERE h.ok ORDER BY 1, 2, 3, 4, 5, 6, 7
        ON CONFLICT DO NOTHING;
        END IF;

        WITH h AS (
            SELECT h.*, cl.id AS client_id, k.id AS key_id, ua.id AS agent_id, rs.id AS reason_id,
                   uc.id AS uid_client
            FROM unnest(p_received, p_path, p_body, p_accepted, p_reason, p_agent, p_day, p_cid,
                        p_application, p_version, p_type, p_category, p_action, p_label, p_value, p_uid)
                 WITH ORDINALITY h(received, path, body, ok, reason, agent, day, cid, a, v, t, c, e, l,
                                   value, uid, ord)
            LEFT JOIN clients cl ON cl.cid = h.cid
            LEFT JOIN clients uc ON uc.cid = h.uid
            LEFT JOIN user_agents ua ON sha256(ua.agent) = sha256(h.agent) AND ua.agent = h.agent
            LEFT JOIN reasons rs ON rs.reason = h.reason
            LEFT JOIN rollup_keys k ON h.ok AND k.scope = 0 AND k.application = h.a AND k.version = h.v
                AND k.type = h.t AND k.category = h.c AND k.action = h.e AND k.label = h.l
        ), stored AS (
            INSERT INTO hits (received_us, path, body, accepted, reason, user_agent, day, client,
                              rollup_key, value, agent_id, reason_id, uid_client)
            SELECT received, path, body, ok, '', '', day, client_id, key_id,
                   CASE WHEN ok THEN value END, agent_id, reason_id, uid_client
            FROM h ORDER BY ord
        ), counted AS (
            INSERT INTO daily_counts AS d (day, key, shard, hits, value_sum)
            SELECT day, key_id, p_shard, count(*), coalesce(sum(value), 0)
            FROM h WHERE ok GROUP BY day, key_id ORDER BY day, key_id
            ON CONFLICT (day, key, shard) DO UPDATE
            SET hits = d.hits + excluded.hits, value_sum = d.value_sum + excluded.value_sum
        )
        INSERT INTO daily_rejections AS d (day, reason, shard, hits)
        SELECT day, reason, p_shard, count(*) FROM h WHERE NOT ok GROUP BY day, reason ORDER BY day, reason
        ON CONFLICT (day, reason, shard) DO UPDATE SET hits = d.hits + excluded.hits;

        IF NOT v_new THEN
            RETURN v_generation;
        END IF;
        -- The (client, key, day) the batch is the first to bring, in the order of their locks.
        WITH added AS (
            INSERT INTO presence (client, key, day)
            SELECT DISTINCT cl.id, k.id, h.day
            FROM unnest(p_accepted, p_cid, p_day, p_application, p_version, p_type, p_category, p_action,
                        p_label, p_known) h(ok, cid, day, a, v, t, c, e, l, known)
            JOIN clients cl ON cl.cid = h.cid
            CROSS JOIN LATERAL (VALUES (0, a, v, t, c, e, l), (1, a, ''::bytea, t, c, e, l),
                                       (2, a, v, '', '', '', ''), (3, '', '', '', '', '', '')) kk(s, a, v, t, c, e, l)
            JOIN rollup_keys k ON k.scope = kk.s AND k.application = kk.a AND k.version = kk.v
                AND k.type = kk.t AND k.category = kk.c AND k.action = kk.e AND k.label = kk.l
            WHERE h.ok AND h.known IS NOT TRUE
            ORDER BY 1, 2, 3
            ON CONFLICT DO NOTHING
            RETURNING client, key, day
        )
        SELECT array_agg(client), array_agg(key), array_agg(day) INTO v_client, v_key, v_day FROM added;
        IF v_client IS NULL THEN
            RETURN v_generation;
        END IF;

        PERFORM pg_advisory_xact_lock(l)
        FROM (SELECT DISTINCT zncip_pair_lock(c, k) AS l FROM unnest(v_client, v_key) x(c, k) ORDER BY 1) x;

        -- Each new day counts against the day before it. A new day before a later one (a late hit): the
        -- later one now follows the new day. As if the new days of a client and key were added one after
        -- the other, earliest first: the day after a new day is one that was there before the batch.
        WITH new AS (SELECT * FROM unnest(v_client, v_key, v_day) n(client, key, day)),
        around AS (
            SELECT n.key, n.day,
                   coalesce((SELECT max(p.day) FROM presence p
                             WHERE p.client = n.client AND p.key = n.key AND p.day < n.day),
                            -2147483648) AS previous,
                   (SELECT min(p.day) FROM presence p
                    WHERE p.client = n.client AND p.key = n.key AND p.day > n.day
                      AND NOT EXISTS (SELECT FROM new o
                                      WHERE o.client = p.client AND o.key = p.key AND o.day = p.day)) AS next
            FROM new n
        ),
        changes AS (
            SELECT day, previous, key, 1 AS clients FROM around
            UNION ALL
            SELECT next, previous, key, -1 FROM around WHERE next IS NOT NULL
            UNION ALL
            SELECT next, day, key, 1 FROM around WHERE next IS NOT NULL
        )
        INSERT INTO first_visits AS f (day, previous_day, key, shard, clients)
        SELECT day, previous, key, p_shard, sum(clients) FROM changes
        GROUP BY day, previous, key ORDER BY day, previous, key
        ON CONFLICT (day, previous_day, key, shard) DO UPDATE SET clients = f.clients + excluded.clients;
        RETURN v_generation;
    END
    $$;


--
-- Name: zncip_append(integer, bigint, boolean[], bigint[], bytea[], bytea[], boolean[], bytea[], bytea[], integer[], bytea[], bytea[], bytea[], bytea[], bytea[], bytea[], bytea[], bigint[], bytea[], bigint[], bigint[], bigint[], bigint[], bigint[], bigint[], bigint[], bigint[]); Type: FUNCTION; Schema: public; Owner: -
--

CREATE FUNCTION public.zncip_append(p_shard integer, p_generation bigint, p_known boolean[], p_received bigint[], p_path bytea[], p_body bytea[], p_accepted boolean[], p_reason bytea[], p_agent bytea[], p_day integer[], p_cid bytea[], p_application bytea[], p_version bytea[], p_type bytea[], p_category bytea[], p_action bytea[], p_label bytea[], p_value bigint[], p_uid bytea[], p_client bigint[], p_uid_client bigint[], p_agent_id bigint[], p_reason_id bigint[], p_key0 bigint[], p_key1 bigint[], p_key2 bigint[], p_key3 bigint[]) RETURNS TABLE(r_generation bigint, r_client bigint, r_uid_client bigint, r_agent bigint, r_reason bigint, r_key0 bigint, r_key1 bigint, r_key2 bigint, r_key3 bigint)
    LANGUAGE plpgsql
    SET plan_cache_mode TO 'force_generic_plan'
    SET random_page_cost TO '1.1'
    AS $$
    DECLARE
        v_generation bigint; v_texts boolean; v_present boolean;
        v_client bigint[]; v_uid_client bigint[]; v_agent bigint[]; v_reason bigint[];
        v_key0 bigint[]; v_key1 bigint[]; v_key2 bigint[]; v_key3 bigint[];
        v_new_client bigint[]; v_new_key bigint[]; v_new_day integer[];
    BEGIN
        -- A client being forgotten is forgotten before these hits are stored, or after.
        PERFORM pg_advisory_xact_lock_shared(7420, 2);
        SELECT generation INTO v_generation FROM erasures;
        IF v_generation <> p_generation THEN
            IF EXISTS (SELECT FROM unnest(p_client, p_uid_client, p_agent_id, p_reason_id, p_key0) i(c, u, a, r, k)
                       WHERE coalesce(c, u, a, r, k) IS NOT NULL) THEN
                RETURN;
            END IF;
            p_known := NULL;
        END IF;
        SELECT coalesce(bool_or(a <> '' OR r <> '' OR cid IS NOT NULL OR uid IS NOT NULL OR ok AND k IS NULL), false),
               coalesce(bool_or(ok AND known IS NOT TRUE AND (c IS NOT NULL OR cid IS NOT NULL)), false)
        INTO v_texts, v_present
        FROM unnest(p_agent, p_reason, p_cid, p_uid, p_accepted, p_key0, p_known, p_client) x(a, r, cid, uid, ok, k, known, c);

        IF v_texts THEN
        INSERT INTO user_agents (agent)
        SELECT DISTINCT a FROM unnest(p_agent) a WHERE a <> '' ORDER BY 1
        ON CONFLICT DO NOTHING;
        INSERT INTO reasons (reason)
        SELECT DISTINCT r FROM unnest(p_reason) r WHERE r <> '' ORDER BY 1
        ON CONFLICT DO NOTHING;
        INSERT INTO clients (cid)
        SELECT DISTINCT c FROM unnest(p_cid || p_uid) c WHERE c IS NOT NULL ORDER BY 1
        ON CONFLICT DO NOTHING;
        INSERT INTO rollup_keys (scope, application, version, type, category, action, label)
        SELECT DISTINCT k.* FROM unnest(p_accepted, p_key0, p_application, p_version, p_type, p_category,
                                        p_action, p_label) h(ok, id, a, v, t, c, e, l)
        CROSS JOIN LATERAL (VALUES (0, a, v, t, c, e, l), (1, a, ''::bytea, t, c, e, l),
                                   (2, a, v, '', '', '', ''), (3, '', '', '', '', '', '')) k
        WHERE h.ok AND h.id IS NULL ORDER BY 1, 2, 3, 4, 5, 6, 7
        ON CONFLICT DO NOTHING;

        SELECT array_agg(coalesce(h.client, cl.id) ORDER BY ord), array_agg(coalesce(h.uid_client, uc.id) ORDER BY ord),
               array_agg(coalesce(h.agent_id, ua.id) ORDER BY ord), array_agg(coalesce(h.reason_id, rs.id) ORDER BY ord),
               array_agg(coalesce(h.k0, k0.id) ORDER BY ord), array_agg(coalesce(h.k1, k1.id) ORDER BY ord),
               array_agg(coalesce(h.k2, k2.id) ORDER BY ord), array_agg(coalesce(h.k3, k3.id) ORDER BY ord)
        INTO v_client, v_uid_client, v_agent, v_reason, v_key0, v_key1, v_key2, v_key3
        FROM unnest(p_client, p_cid, p_uid_client, p_uid, p_agent_id, p_agent, p_reason_id, p_reason, p_accepted,
                    p_key0, p_key1, p_key2, p_key3, p_application, p_version, p_type, p_category, p_action, p_label)
             WITH ORDINALITY h(client, cid, uid_client, uid, agent_id, agent, reason_id, reason, ok,
                               k0, k1, k2, k3, a, v, t, c, e, l, ord)
        LEFT JOIN clients cl ON cl.cid = h.cid
        LEFT JOIN clients uc ON uc.cid = h.uid
        LEFT JOIN user_agents ua ON sha256(ua.agent) = sha256(h.agent) AND ua.agent = h.agent
        LEFT JOIN reasons rs ON rs.reason = h.reason
        LEFT JOIN rollup_keys k0 ON h.ok AND k0.scope = 0 AND k0.application = h.a AND k0.version = h.v
            AND k0.type = h.t AND k0.category = h.c AND k0.action = h.e AND k0.label = h.l
        LEFT JOIN rollup_keys k1 ON h.ok AND k1.scope = 1 AND k1.application = h.a AND k1.version = ''
            AND k1.type = h.t AND k1.category = h.c AND k1.action = h.e AND k1.label = h.l
        LEFT JOIN rollup_keys k2 ON h.ok AND k2.scope = 2 AND k2.application = h.a AND k2.version = h.v
            AND k2.type = '' AND k2.category = '' AND k2.action = '' AND k2.label = ''
        LEFT JOIN rollup_keys k3 ON h.ok AND h.a IS NOT NULL AND k3.scope = 3 AND k3.application = ''
            AND k3.version = '' AND k3.type = '' AND k3.category = '' AND k3.action = '' AND k3.label = '';
        ELSE
            v_client := p_client; v_uid_client := p_uid_client; v_agent := p_agent_id; v_reason := p_reason_id;
            v_key0 := p_key0; v_key1 := p_key1; v_key2 := p_key2; v_key3 := p_key3;
        END IF;

        WITH h AS (
            SELECT h.*, coalesce(rs.reason, h.given_reason, '') AS reason
            FROM unnest(p_received, p_path, p_body, p_accepted, p_reason, v_reason, v_agent, p_day, v_client,
                        v_key0, p_value, v_uid_client)
                 WITH ORDINALITY h(received, path, body, ok, given_reason, reason_id, agent_id, day, client,
                                   key_id, value, uid_client, ord)
            LEFT JOIN reasons rs ON NOT h.ok AND rs.id = h.reason_id
        ), stored AS (
            INSERT INTO hits (received_us, path, body, accepted, reason, user_agent, day, client,
                              rollup_key, value, agent_id, reason_id, uid_client)
            SELECT received, path, body, ok, '', '', day, client, key_id,
                   CASE WHEN ok THEN value END, agent_id, reason_id, uid_client
            FROM h ORDER BY ord
        ), counted AS (
            INSERT INTO daily_counts AS d (day, key, shard, hits, value_sum)
            SELECT day, key_id, p_shard, count(*), coalesce(sum(value), 0)
            FROM h WHERE ok GROUP BY day, key_id ORDER BY day, key_id
            ON CONFLICT (day, key, shard) DO UPDATE
            SET hits = d.hits + excluded.hits, value_sum = d.value_sum + excluded.value_sum
        )
        INSERT INTO daily_rejections AS d (day, reason, shard, hits)
        SELECT day, reason, p_shard, count(*) FROM h WHERE NOT ok GROUP BY day, reason ORDER BY day, reason
        ON CONFLICT (day, reason, shard) DO UPDATE SET hits = d.hits + excluded.hits;

        IF v_present THEN
        -- The (client, key, day) the batch is the first to bring, in the order of their locks.
        WITH added AS (
            INSERT INTO presence (client, key, day)
            SELECT DISTINCT h.client, k.key, h.day
            FROM unnest(p_accepted, v_client, p_day, v_key0, v_key1, v_key2, v_key3, p_known)
                 h(ok, client, day, k0, k1, k2, k3, known)
            CROSS JOIN LATERAL (VALUES (k0), (k1), (k2), (k3)) k(key)
            WHERE h.ok AND h.known IS NOT TRUE AND h.client IS NOT NULL
            ORDER BY 1, 2, 3
            ON CONFLICT DO NOTHING
            RETURNING client, key, day
        )
        SELECT array_agg(client), array_agg(key), array_agg(day) INTO v_new_client, v_new_key, v_new_day FROM added;
        END IF;

        IF v_new_client IS NOT NULL THEN
        PERFORM pg_advisory_xact_lock(l)
        FROM (SELECT DISTINCT zncip_pair_lock(c, k) AS l FROM unnest(v_new_client, v_new_key) x(c, k) ORDER BY 1) x;

        -- Each new day counts against the day before it. A new day before a later one (a late hit): the
        -- later one now follows the new day. As if the new days of a client and key were added one after
        -- the other, earliest first: the day after a new day is one that was there before the batch.
        WITH new AS (SELECT * FROM unnest(v_new_client, v_new_key, v_new_day) n(client, key, day)),
        around AS (
            SELECT n.key, n.day,
                   coalesce((SELECT max(p.day) FROM presence p
                             WHERE p.client = n.client AND p.key = n.key AND p.day < n.day),
                            -2147483648) AS previous,
                   (SELECT min(p.day) FROM presence p
                    WHERE p.client = n.client AND p.key = n.key AND p.day > n.day
                      AND NOT EXISTS (SELECT FROM new o
                                      WHERE o.client = p.client AND o.key = p.key AND o.day = p.day)) AS next
            FROM new n
        ),
        changes AS (
            SELECT day, previous, key, 1 AS clients FROM around
            UNION ALL
            SELECT next, previous, key, -1 FROM around WHERE next IS NOT NULL
            UNION ALL
            SELECT next, day, key, 1 FROM around WHERE next IS NOT NULL
        )
        INSERT INTO first_visits AS f (day, previous_day, key, shard, clients)
        SELECT day, previous, key, p_shard, sum(clients) FROM changes
        GROUP BY day, previous, key ORDER BY day, previous, key
        ON CONFLICT (day, previous_day, key, shard) DO UPDATE SET clients = f.clients + excluded.clients;
        END IF;
        RETURN QUERY SELECT v_generation, * FROM unnest(v_client, v_uid_client, v_agent, v_reason,
                                                         v_key0, v_key1, v_key2, v_key3);
    END
    $$;


--
-- Name: zncip_drop_days_before(integer); Type: FUNCTION; Schema: public; Owner: -
--

CREATE FUNCTION public.zncip_drop_days_before(p_day integer) RETURNS bigint
    LANGUAGE plpgsql
    SET lock_timeout TO '2s'
    AS $$
    DECLARE
        v_partition regclass; v_hits bigint; v_removed bigint := 0;
    BEGIN
        PERFORM pg_advisory_xact_lock(7420, 3);
        FOR v_partition IN
            SELECT c.oid FROM pg_inherits i JOIN pg_class c ON c.oid = i.inhrelid
            WHERE i.inhparent = 'hits'::regclass
              AND substring(pg_get_expr(c.relpartbound, c.oid) FROM 'TO \((-?\d+)\)')::integer <= p_day
            ORDER BY 1
        LOOP
            -- Counting reads the day once; deleting would write each row's death to the log, then vacuum it.
            EXECUTE format('SELECT count(*) FROM %s', v_partition) INTO v_hits;
            EXECUTE format('ALTER TABLE hits DETACH PARTITION %s', v_partition);
            EXECUTE format('DROP TABLE %s', v_partition);
            v_removed := v_removed + v_hits;
        END LOOP;
        RETURN v_removed;
    END
    $$;


--
-- Name: zncip_forget(integer, bytea); Type: FUNCTION; Schema: public; Owner: -
--

CREATE FUNCTION public.zncip_forget(p_shard integer, p_cid bytea, OUT removed_hits bigint, OUT removed_days bigint) RETURNS record
    LANGUAGE plpgsql
    AS $$
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


--
-- Name: zncip_pair_lock(bigint, bigint); Type: FUNCTION; Schema: public; Owner: -
--

CREATE FUNCTION public.zncip_pair_lock(p_client bigint, p_key bigint) RETURNS bigint
    LANGUAGE sql IMMUTABLE
    AS $$ SELECT p_client # (p_key << 32) $$;


--
-- Name: zncip_prepare_days(integer, integer); Type: FUNCTION; Schema: public; Owner: -
--

CREATE FUNCTION public.zncip_prepare_days(p_first integer, p_last integer) RETURNS integer
    LANGUAGE plpgsql
    SET lock_timeout TO '2s'
    AS $_$
    DECLARE
        v_day integer; v_name text; v_made integer := 0;
    BEGIN
        -- The call of every hour finds them there, and locks nothing.
        IF NOT EXISTS (SELECT FROM generate_series(p_first, p_last) d
                       WHERE to_regclass('hits_' || to_char(date '1970-01-01' + d, 'YYYYMMDD')) IS NULL) THEN
            RETURN 0;
        END IF;
        PERFORM pg_advisory_xact_lock(7420, 3);
        -- The server refuses a partition whose day has rows in hits_default: they move into it first, and
        -- none may arrive there meanwhile. An insert routed by the partitions it saw before fails once a
        -- partition is attached, rather than going to it: hits wait meanwhile, readers do not.
        LOCK TABLE hits IN SHARE ROW EXCLUSIVE MODE;
        FOR v_day IN p_first..p_last LOOP
            v_name := 'hits_' || to_char(date '1970-01-01' + v_day, 'YYYYMMDD');
            CONTINUE WHEN to_regclass(v_name) IS NOT NULL;
            EXECUTE format('CREATE TABLE %I (LIKE hits, CHECK (day >= %s AND day < %s))', v_name, v_day, v_day + 1);
            EXECUTE format('WITH moved AS (DELETE FROM hits_default WHERE day = $1 RETURNING *) '
                           'INSERT INTO %I SELECT * FROM moved', v_name) USING v_day;
            EXECUTE format('ALTER TABLE hits ATTACH PARTITION %I FOR VALUES FROM (%s) TO (%s)', v_name, v_day, v_day + 1);
            v_made := v_made + 1;
        END LOOP;
        RETURN v_made;
    END
    $_$;




--
-- Name: clients; Type: TABLE; Schema: public; Owner: -
--

CREATE TABLE public.clients (
    id bigint NOT NULL,
    cid bytea NOT NULL
);


--
-- Name: clients_id_seq; Type: SEQUENCE; Schema: public; Owner: -
--

CREATE SEQUENCE public.clients_id_seq
    START WITH 1
    INCREMENT BY 1
    NO MINVALUE
    NO MAXVALUE
    CACHE 1;


--
-- Name: clients_id_seq; Type: SEQUENCE OWNED BY; Schema: public; Owner: -
--

ALTER SEQUENCE public.clients_id_seq OWNED BY public.clients.id;


--
-- Name: daily_counts; Type: TABLE; Schema: public; Owner: -
--

CREATE TABLE public.daily_counts (
    day integer NOT NULL,
    key bigint NOT NULL,
    shard smallint NOT NULL,
    hits bigint NOT NULL,
    value_sum bigint NOT NULL
);


--
-- Name: daily_rejections; Type: TABLE; Schema: public; Owner: -
--

CREATE TABLE public.daily_rejections (
    day integer NOT NULL,
    reason bytea NOT NULL,
    shard smallint NOT NULL,
    hits bigint NOT NULL
);


--
-- Name: erasures; Type: TABLE; Schema: public; Owner: -
--

CREATE TABLE public.erasures (
    generation bigint NOT NULL
);


--
-- Name: first_visits; Type: TABLE; Schema: public; Owner: -
--

CREATE TABLE public.first_visits (
    day integer NOT NULL,
    previous_day integer NOT NULL,
    key bigint NOT NULL,
    shard smallint NOT NULL,
    clients bigint NOT NULL
);


--
-- Name: hits; Type: TABLE; Schema: public; Owner: -
--

CREATE TABLE public.hits (
    id bigint NOT NULL,
    received_us bigint NOT NULL,
    path bytea NOT NULL,
    body bytea NOT NULL,
    accepted boolean NOT NULL,
    reason bytea NOT NULL,
    user_agent bytea NOT NULL,
    day integer NOT NULL,
    client bigint,
    rollup_key bigint,
    value bigint,
    agent_id bigint,
    reason_id bigint,
    uid_client bigint
)
PARTITION BY RANGE (day);


--
-- Name: hits_id_seq; Type: SEQUENCE; Schema: public; Owner: -
--

CREATE SEQUENCE public.hits_id_seq
    START WITH 1
    INCREMENT BY 1
    NO MINVALUE
    NO MAXVALUE
    CACHE 1;


--
-- Name: hits_id_seq; Type: SEQUENCE OWNED BY; Schema: public; Owner: -
--

ALTER SEQUENCE public.hits_id_seq OWNED BY public.hits.id;


--
-- Name: hits_default; Type: TABLE; Schema: public; Owner: -
--

CREATE TABLE public.hits_default (
    id bigint DEFAULT nextval('public.hits_id_seq'::regclass) NOT NULL,
    received_us bigint NOT NULL,
    path bytea NOT NULL,
    body bytea NOT NULL,
    accepted boolean NOT NULL,
    reason bytea NOT NULL,
    user_agent bytea NOT NULL,
    day integer NOT NULL,
    client bigint,
    rollup_key bigint,
    value bigint,
    agent_id bigint,
    reason_id bigint,
    uid_client bigint
);


--
-- Name: presence; Type: TABLE; Schema: public; Owner: -
--

CREATE TABLE public.presence (
    client bigint NOT NULL,
    key bigint NOT NULL,
    day integer NOT NULL
);


--
-- Name: reasons; Type: TABLE; Schema: public; Owner: -
--

CREATE TABLE public.reasons (
    id bigint NOT NULL,
    reason bytea NOT NULL
);


--
-- Name: reasons_id_seq; Type: SEQUENCE; Schema: public; Owner: -
--

CREATE SEQUENCE public.reasons_id_seq
    START WITH 1
    INCREMENT BY 1
    NO MINVALUE
    NO MAXVALUE
    CACHE 1;


--
-- Name: reasons_id_seq; Type: SEQUENCE OWNED BY; Schema: public; Owner: -
--

ALTER SEQUENCE public.reasons_id_seq OWNED BY public.reasons.id;


--
-- Name: rollup_keys; Type: TABLE; Schema: public; Owner: -
--

CREATE TABLE public.rollup_keys (
    id bigint NOT NULL,
    scope integer NOT NULL,
    application bytea NOT NULL,
    version bytea NOT NULL,
    type bytea NOT NULL,
    category bytea NOT NULL,
    action bytea NOT NULL,
    label bytea NOT NULL
);


--
-- Name: rollup_keys_id_seq; Type: SEQUENCE; Schema: public; Owner: -
--

CREATE SEQUENCE public.rollup_keys_id_seq
    START WITH 1
    INCREMENT BY 1
    NO MINVALUE
    NO MAXVALUE
    CACHE 1;


--
-- Name: rollup_keys_id_seq; Type: SEQUENCE OWNED BY; Schema: public; Owner: -
--

ALTER SEQUENCE public.rollup_keys_id_seq OWNED BY public.rollup_keys.id;


--
-- Name: schema_version; Type: TABLE; Schema: public; Owner: -
--

CREATE TABLE public.schema_version (
    version integer NOT NULL,
    applied timestamp with time zone DEFAULT now() NOT NULL
);


--
-- Name: user_agents; Type: TABLE; Schema: public; Owner: -
--

CREATE TABLE public.user_agents (
    id bigint NOT NULL,
    agent bytea NOT NULL
);


--
-- Name: user_agents_id_seq; Type: SEQUENCE; Schema: public; Owner: -
--

CREATE SEQUENCE public.user_agents_id_seq
    START WITH 1
    INCREMENT BY 1
    NO MINVALUE
    NO MAXVALUE
    CACHE 1;


--
-- Name: user_agents_id_seq; Type: SEQUENCE OWNED BY; Schema: public; Owner: -
--

ALTER SEQUENCE public.user_agents_id_seq OWNED BY public.user_agents.id;


--
-- Name: hits_default; Type: TABLE ATTACH; Schema: public; Owner: -
--

ALTER TABLE ONLY public.hits ATTACH PARTITION public.hits_default DEFAULT;


--
-- Name: clients id; Type: DEFAULT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.clients ALTER COLUMN id SET DEFAULT nextval('public.clients_id_seq'::regclass);


--
-- Name: hits id; Type: DEFAULT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.hits ALTER COLUMN id SET DEFAULT nextval('public.hits_id_seq'::regclass);


--
-- Name: reasons id; Type: DEFAULT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.reasons ALTER COLUMN id SET DEFAULT nextval('public.reasons_id_seq'::regclass);


--
-- Name: rollup_keys id; Type: DEFAULT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.rollup_keys ALTER COLUMN id SET DEFAULT nextval('public.rollup_keys_id_seq'::regclass);


--
-- Name: user_agents id; Type: DEFAULT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.user_agents ALTER COLUMN id SET DEFAULT nextval('public.user_agents_id_seq'::regclass);


--
-- Data for Name: clients; Type: TABLE DATA; Schema: public; Owner: -
--

COPY public.clients (id, cid) FROM stdin;
\.


--
-- Data for Name: daily_counts; Type: TABLE DATA; Schema: public; Owner: -
--

COPY public.daily_counts (day, key, shard, hits, value_sum) FROM stdin;
\.


--
-- Data for Name: daily_rejections; Type: TABLE DATA; Schema: public; Owner: -
--

COPY public.daily_rejections (day, reason, shard, hits) FROM stdin;
\.


--
-- Data for Name: erasures; Type: TABLE DATA; Schema: public; Owner: -
--

COPY public.erasures (generation) FROM stdin;
0
\.


--
-- Data for Name: first_visits; Type: TABLE DATA; Schema: public; Owner: -
--

COPY public.first_visits (day, previous_day, key, shard, clients) FROM stdin;
\.


--
-- Data for Name: hits_default; Type: TABLE DATA; Schema: public; Owner: -
--

COPY public.hits_default (id, received_us, path, body, accepted, reason, user_agent, day, client, rollup_key, value, agent_id, reason_id, uid_client) FROM stdin;
\.


--
-- Data for Name: presence; Type: TABLE DATA; Schema: public; Owner: -
--

COPY public.presence (client, key, day) FROM stdin;
\.


--
-- Data for Name: reasons; Type: TABLE DATA; Schema: public; Owner: -
--

COPY public.reasons (id, reason) FROM stdin;
\.


--
-- Data for Name: rollup_keys; Type: TABLE DATA; Schema: public; Owner: -
--

COPY public.rollup_keys (id, scope, application, version, type, category, action, label) FROM stdin;
\.


--
-- Data for Name: user_agents; Type: TABLE DATA; Schema: public; Owner: -
--

COPY public.user_agents (id, agent) FROM stdin;
\.


--
-- Name: clients_id_seq; Type: SEQUENCE SET; Schema: public; Owner: -
--

SELECT pg_catalog.setval('public.clients_id_seq', 1, false);


--
-- Name: hits_id_seq; Type: SEQUENCE SET; Schema: public; Owner: -
--

SELECT pg_catalog.setval('public.hits_id_seq', 1, false);


--
-- Name: reasons_id_seq; Type: SEQUENCE SET; Schema: public; Owner: -
--

SELECT pg_catalog.setval('public.reasons_id_seq', 1, false);


--
-- Name: rollup_keys_id_seq; Type: SEQUENCE SET; Schema: public; Owner: -
--

SELECT pg_catalog.setval('public.rollup_keys_id_seq', 1, false);


--
-- Name: user_agents_id_seq; Type: SEQUENCE SET; Schema: public; Owner: -
--

SELECT pg_catalog.setval('public.user_agents_id_seq', 1, false);


--
-- Name: clients clients_cid_key; Type: CONSTRAINT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.clients
    ADD CONSTRAINT clients_cid_key UNIQUE (cid);


--
-- Name: clients clients_pkey; Type: CONSTRAINT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.clients
    ADD CONSTRAINT clients_pkey PRIMARY KEY (id);


--
-- Name: daily_counts daily_counts_pkey; Type: CONSTRAINT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.daily_counts
    ADD CONSTRAINT daily_counts_pkey PRIMARY KEY (day, key, shard);


--
-- Name: daily_rejections daily_rejections_pkey; Type: CONSTRAINT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.daily_rejections
    ADD CONSTRAINT daily_rejections_pkey PRIMARY KEY (day, reason, shard);


--
-- Name: first_visits first_visits_pkey; Type: CONSTRAINT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.first_visits
    ADD CONSTRAINT first_visits_pkey PRIMARY KEY (day, previous_day, key, shard);


--
-- Name: hits hits_pkey; Type: CONSTRAINT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.hits
    ADD CONSTRAINT hits_pkey PRIMARY KEY (id, day);


--
-- Name: hits_default hits_default_pkey; Type: CONSTRAINT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.hits_default
    ADD CONSTRAINT hits_default_pkey PRIMARY KEY (id, day);


--
-- Name: presence presence_pkey; Type: CONSTRAINT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.presence
    ADD CONSTRAINT presence_pkey PRIMARY KEY (client, key, day);


--
-- Name: reasons reasons_pkey; Type: CONSTRAINT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.reasons
    ADD CONSTRAINT reasons_pkey PRIMARY KEY (id);


--
-- Name: reasons reasons_reason_key; Type: CONSTRAINT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.reasons
    ADD CONSTRAINT reasons_reason_key UNIQUE (reason);


--
-- Name: rollup_keys rollup_keys_pkey; Type: CONSTRAINT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.rollup_keys
    ADD CONSTRAINT rollup_keys_pkey PRIMARY KEY (id);


--
-- Name: rollup_keys rollup_keys_scope_application_version_type_category_action__key; Type: CONSTRAINT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.rollup_keys
    ADD CONSTRAINT rollup_keys_scope_application_version_type_category_action__key UNIQUE (scope, application, version, type, category, action, label);


--
-- Name: user_agents user_agents_pkey; Type: CONSTRAINT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.user_agents
    ADD CONSTRAINT user_agents_pkey PRIMARY KEY (id);


--
-- Name: daily_counts_by_key; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX daily_counts_by_key ON public.daily_counts USING btree (key);


--
-- Name: first_visits_by_key; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX first_visits_by_key ON public.first_visits USING btree (key, day);


--
-- Name: hits_by_agent; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX hits_by_agent ON ONLY public.hits USING btree (agent_id) WHERE (agent_id IS NOT NULL);


--
-- Name: hits_by_client; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX hits_by_client ON ONLY public.hits USING btree (client) WHERE (client IS NOT NULL);


--
-- Name: hits_by_day; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX hits_by_day ON ONLY public.hits USING btree (day);


--
-- Name: hits_by_reason; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX hits_by_reason ON ONLY public.hits USING btree (reason_id) WHERE (reason_id IS NOT NULL);


--
-- Name: hits_by_uid_client; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX hits_by_uid_client ON ONLY public.hits USING btree (uid_client) WHERE (uid_client IS NOT NULL);


--
-- Name: hits_default_agent_id_idx; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX hits_default_agent_id_idx ON public.hits_default USING btree (agent_id) WHERE (agent_id IS NOT NULL);


--
-- Name: hits_default_client_idx; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX hits_default_client_idx ON public.hits_default USING btree (client) WHERE (client IS NOT NULL);


--
-- Name: hits_rejected_by_day; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX hits_rejected_by_day ON ONLY public.hits USING btree (day, id) WHERE (NOT accepted);


--
-- Name: hits_default_day_id_idx; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX hits_default_day_id_idx ON public.hits_default USING btree (day, id) WHERE (NOT accepted);


--
-- Name: hits_default_day_idx; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX hits_default_day_idx ON public.hits_default USING btree (day);


--
-- Name: hits_default_reason_id_idx; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX hits_default_reason_id_idx ON public.hits_default USING btree (reason_id) WHERE (reason_id IS NOT NULL);


--
-- Name: hits_default_uid_client_idx; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX hits_default_uid_client_idx ON public.hits_default USING btree (uid_client) WHERE (uid_client IS NOT NULL);


--
-- Name: user_agents_by_digest; Type: INDEX; Schema: public; Owner: -
--

CREATE UNIQUE INDEX user_agents_by_digest ON public.user_agents USING btree (sha256(agent));


--
-- Name: hits_default_agent_id_idx; Type: INDEX ATTACH; Schema: public; Owner: -
--

ALTER INDEX public.hits_by_agent ATTACH PARTITION public.hits_default_agent_id_idx;


--
-- Name: hits_default_client_idx; Type: INDEX ATTACH; Schema: public; Owner: -
--

ALTER INDEX public.hits_by_client ATTACH PARTITION public.hits_default_client_idx;


--
-- Name: hits_default_day_id_idx; Type: INDEX ATTACH; Schema: public; Owner: -
--

ALTER INDEX public.hits_rejected_by_day ATTACH PARTITION public.hits_default_day_id_idx;


--
-- Name: hits_default_day_idx; Type: INDEX ATTACH; Schema: public; Owner: -
--

ALTER INDEX public.hits_by_day ATTACH PARTITION public.hits_default_day_idx;


--
-- Name: hits_default_pkey; Type: INDEX ATTACH; Schema: public; Owner: -
--

ALTER INDEX public.hits_pkey ATTACH PARTITION public.hits_default_pkey;


--
-- Name: hits_default_reason_id_idx; Type: INDEX ATTACH; Schema: public; Owner: -
--

ALTER INDEX public.hits_by_reason ATTACH PARTITION public.hits_default_reason_id_idx;


--
-- Name: hits_default_uid_client_idx; Type: INDEX ATTACH; Schema: public; Owner: -
--

ALTER INDEX public.hits_by_uid_client ATTACH PARTITION public.hits_default_uid_client_idx;


--
-- PostgreSQL database dump complete
--



