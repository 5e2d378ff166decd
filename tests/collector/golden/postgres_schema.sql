--
-- PostgreSQL database dump
--




--
-- Name: zncip_append(integer, bigint, boolean[], bigint[], bytea[], bytea[], boolean[], bytea[], bytea[], integer[], bytea[], bytea[], bytea[], bytea[], bytea[], bytea[], bytea[], bigint[]); Type: FUNCTION; Schema: public; Owner: -
--

CREATE FUNCTION public.zncip_append(p_shard integer, p_generation bigint, p_known boolean[], p_received bigint[], p_path bytea[], p_body bytea[], p_accepted boolean[], p_reason bytea[], p_agent bytea[], p_day integer[], p_cid bytea[], p_application bytea[], p_version bytea[], p_type bytea[], p_category bytea[], p_action bytea[], p_label bytea[], p_value bigint[]) RETURNS bigint
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
                         WHERE known IS NOT TRUE AND (ok OR cid IS NOT NULL));

        IF v_new THEN
        INSERT INTO clients (cid)
        SELECT DISTINCT c FROM unnest(p_cid) c WHERE c IS NOT NULL ORDER BY 1
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
            SELECT h.*, cl.id AS client_id, k.id AS key_id
            FROM unnest(p_received, p_path, p_body, p_accepted, p_reason, p_agent, p_day, p_cid,
                        p_application, p_version, p_type, p_category, p_action, p_label, p_value)
                 WITH ORDINALITY h(received, path, body, ok, reason, agent, day, cid, a, v, t, c, e, l,
                                   value, ord)
            LEFT JOIN clients cl ON cl.cid = h.cid
            LEFT JOIN rollup_keys k ON h.ok AND k.scope = 0 AND k.application = h.a AND k.version = h.v
                AND k.type = h.t AND k.category = h.c AND k.action = h.e AND k.label = h.l
        ), stored AS (
            INSERT INTO hits (received_us, path, body, accepted, reason, user_agent, day, client,
                              rollup_key, value)
            SELECT received, path, body, ok, reason, agent, day, client_id, key_id,
                   CASE WHEN ok THEN value END
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
-- Name: zncip_forget(integer, bytea); Type: FUNCTION; Schema: public; Owner: -
--

CREATE FUNCTION public.zncip_forget(p_shard integer, p_cid bytea, OUT removed_hits bigint, OUT removed_days bigint) RETURNS record
    LANGUAGE plpgsql
    AS $$
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


--
-- Name: zncip_pair_lock(bigint, bigint); Type: FUNCTION; Schema: public; Owner: -
--

CREATE FUNCTION public.zncip_pair_lock(p_client bigint, p_key bigint) RETURNS bigint
    LANGUAGE sql IMMUTABLE
    AS $$ SELECT p_client # (p_key << 32) $$;




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
    day integer,
    client bigint,
    rollup_key bigint,
    value bigint
);


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
-- Name: presence; Type: TABLE; Schema: public; Owner: -
--

CREATE TABLE public.presence (
    client bigint NOT NULL,
    key bigint NOT NULL,
    day integer NOT NULL
);


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
-- Name: clients id; Type: DEFAULT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.clients ALTER COLUMN id SET DEFAULT nextval('public.clients_id_seq'::regclass);


--
-- Name: hits id; Type: DEFAULT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.hits ALTER COLUMN id SET DEFAULT nextval('public.hits_id_seq'::regclass);


--
-- Name: rollup_keys id; Type: DEFAULT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.rollup_keys ALTER COLUMN id SET DEFAULT nextval('public.rollup_keys_id_seq'::regclass);


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
-- Data for Name: hits; Type: TABLE DATA; Schema: public; Owner: -
--

COPY public.hits (id, received_us, path, body, accepted, reason, user_agent, day, client, rollup_key, value) FROM stdin;
\.


--
-- Data for Name: presence; Type: TABLE DATA; Schema: public; Owner: -
--

COPY public.presence (client, key, day) FROM stdin;
\.


--
-- Data for Name: rollup_keys; Type: TABLE DATA; Schema: public; Owner: -
--

COPY public.rollup_keys (id, scope, application, version, type, category, action, label) FROM stdin;
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
-- Name: rollup_keys_id_seq; Type: SEQUENCE SET; Schema: public; Owner: -
--

SELECT pg_catalog.setval('public.rollup_keys_id_seq', 1, false);


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
    ADD CONSTRAINT hits_pkey PRIMARY KEY (id);


--
-- Name: presence presence_pkey; Type: CONSTRAINT; Schema: public; Owner: -
--

ALTER TABLE ONLY public.presence
    ADD CONSTRAINT presence_pkey PRIMARY KEY (client, key, day);


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
-- Name: first_visits_by_key; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX first_visits_by_key ON public.first_visits USING btree (key, day);


--
-- Name: hits_by_client; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX hits_by_client ON public.hits USING btree (client) WHERE (client IS NOT NULL);


--
-- Name: hits_by_day; Type: INDEX; Schema: public; Owner: -
--

CREATE INDEX hits_by_day ON public.hits USING btree (day);


--
-- PostgreSQL database dump complete
--



