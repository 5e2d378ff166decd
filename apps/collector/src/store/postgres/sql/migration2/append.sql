-- Schema 2: zncip_append() as in schema 1 (see migration1/append.sql for how presence is counted), storing
-- each hit's user agent and reason by id and the client of its uid beside its cid (p_uid: NULL for none).
-- The server keeps the text between $$ as it is: the body is indented as it was first written, and stays so.
-- The schema 1 signature stays, for collectors still running the build before, storing no uid.
DROP FUNCTION zncip_append(integer, bigint, boolean[], bigint[], bytea[], bytea[], boolean[], bytea[], bytea[],
    integer[], bytea[], bytea[], bytea[], bytea[], bytea[], bytea[], bytea[], bigint[]);

CREATE FUNCTION zncip_append(p_shard integer, p_generation bigint, p_known boolean[], p_received bigint[], p_path bytea[], p_body bytea[],
    p_accepted boolean[], p_reason bytea[], p_agent bytea[], p_day integer[], p_cid bytea[],
    p_application bytea[], p_version bytea[], p_type bytea[], p_category bytea[], p_action bytea[],
    p_label bytea[], p_value bigint[], p_uid bytea[]) RETURNS bigint
-- Its statements planned once per connection, not for every batch: their plans do not depend on it.
LANGUAGE plpgsql SET plan_cache_mode = force_generic_plan AS $$
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

CREATE FUNCTION zncip_append(p_shard integer, p_generation bigint, p_known boolean[], p_received bigint[], p_path bytea[], p_body bytea[],
    p_accepted boolean[], p_reason bytea[], p_agent bytea[], p_day integer[], p_cid bytea[],
    p_application bytea[], p_version bytea[], p_type bytea[], p_category bytea[], p_action bytea[],
    p_label bytea[], p_value bigint[]) RETURNS bigint
LANGUAGE sql AS $$
    SELECT zncip_append(p_shard, p_generation, p_known, p_received, p_path, p_body, p_accepted, p_reason,
                        p_agent, p_day, p_cid, p_application, p_version, p_type, p_category, p_action,
                        p_label, p_value, '{}'::bytea[])
    $$;
