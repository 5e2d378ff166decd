-- Schema 4: zncip_append() taking the ids the writer already holds. Its first 19 arguments are those of
-- schema 2's; for each hit, the texts of its client (p_cid), uid (p_uid), agent, reason and keys are given
-- only where the writer does not know their ids, which follow: p_client, p_uid_client, p_agent_id,
-- p_reason_id and the ids of the hit's keys of scopes 0 to 3. Known ids skip the upserts and lookups.
-- It answers a row per hit, in order: the generation of erasures and every id of the hit, for the writer
-- to remember. It answers none, and stores nothing, when it was given ids under a generation that is no
-- longer current: a client forgotten since may have taken their rows along; the writer asks again with
-- texts. Presence is counted as in schema 1 (see migration1/append.sql).
-- The schema 2 signatures stay, untouched, for collectors still running the builds before.
-- The server keeps the text between $$ as it is: the body is indented as it was first written, and stays so.
CREATE FUNCTION zncip_append(p_shard integer, p_generation bigint, p_known boolean[], p_received bigint[], p_path bytea[], p_body bytea[],
    p_accepted boolean[], p_reason bytea[], p_agent bytea[], p_day integer[], p_cid bytea[],
    p_application bytea[], p_version bytea[], p_type bytea[], p_category bytea[], p_action bytea[],
    p_label bytea[], p_value bigint[], p_uid bytea[], p_client bigint[], p_uid_client bigint[],
    p_agent_id bigint[], p_reason_id bigint[], p_key0 bigint[], p_key1 bigint[], p_key2 bigint[], p_key3 bigint[])
RETURNS TABLE (r_generation bigint, r_client bigint, r_uid_client bigint, r_agent bigint, r_reason bigint,
               r_key0 bigint, r_key1 bigint, r_key2 bigint, r_key3 bigint)
-- Its statements planned once per connection, not for every batch: their plans do not depend on it. Its
-- lookups find a handful of rows each by unique key in tables the server keeps in memory: at the default
-- cost of a random page, a table of a few thousand clients looks cheaper to read whole than to probe ten
-- times, and every batch would read it whole, for days.
LANGUAGE plpgsql SET plan_cache_mode = force_generic_plan SET random_page_cost = 1.1 AS $$
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
