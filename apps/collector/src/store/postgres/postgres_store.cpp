#include "ingest/hit_facts.h"
#include "store/hit_store.h"

#include <libpq-fe.h>

#include <endian.h>

#include <cstring>
#include <mutex>
#include <unordered_set>

namespace zncip::collector
{
namespace
{

// The same tables as the SQLite store, for several collectors writing at once:
// - The counters (daily_counts, daily_rejections, first_visits) have a shard in their key. Each
//   connection adds to its own shard, so collectors do not wait for each other on the rows of a busy
//   day; readers sum over the shards.
// - append() is one call of zncip_append(), which stores a whole batch in one statement's transaction:
//   one round trip per batch.
// - A client's first presence on a day is counted against the previous day it was present under the key
//   (see the SQLite store). To keep that exact when two collectors add days of the same client and key at
//   once, zncip_append() inserts the new presence rows first, then takes a transaction-scoped advisory
//   lock per (client, key), and only then looks for the neighbouring days, in a statement of its own
//   whose snapshot is taken after the locks. Whoever takes a lock second sees what the first committed;
//   the pairs are locked in one order everywhere, so two batches cannot wait for each other.
// - The collector tells which hits bring a (client, key, day) it has already stored; those skip the
//   client, key and presence work. What it remembers is dropped whenever a client was forgotten.
// Every text is bytea: bodies, agents and decoded parameters are bytes, compared as bytes, as in SQLite.
const char* const kMigrations[] = {
    R"sql(
    CREATE TABLE hits (
        id          bigserial PRIMARY KEY,
        received_us bigint  NOT NULL,
        path        bytea   NOT NULL,
        body        bytea   NOT NULL,
        accepted    boolean NOT NULL,
        reason      bytea   NOT NULL,
        user_agent  bytea   NOT NULL,
        day         integer,
        client      bigint,
        rollup_key  bigint,
        value       bigint
    );
    CREATE TABLE clients (
        id  bigserial PRIMARY KEY,
        cid bytea NOT NULL UNIQUE
    );
    CREATE TABLE rollup_keys (
        id          bigserial PRIMARY KEY,
        scope       integer NOT NULL,
        application bytea   NOT NULL,
        version     bytea   NOT NULL,
        type        bytea   NOT NULL,
        category    bytea   NOT NULL,
        action      bytea   NOT NULL,
        label       bytea   NOT NULL,
        UNIQUE (scope, application, version, type, category, action, label)
    );
    CREATE TABLE daily_counts (
        day       integer  NOT NULL,
        key       bigint   NOT NULL,
        shard     smallint NOT NULL,
        hits      bigint   NOT NULL,
        value_sum bigint   NOT NULL,
        PRIMARY KEY (day, key, shard)
    );
    CREATE TABLE daily_rejections (
        day    integer  NOT NULL,
        reason bytea    NOT NULL,
        shard  smallint NOT NULL,
        hits   bigint   NOT NULL,
        PRIMARY KEY (day, reason, shard)
    );
    CREATE TABLE presence (
        client bigint  NOT NULL,
        key    bigint  NOT NULL,
        day    integer NOT NULL,
        PRIMARY KEY (client, key, day)
    );
    CREATE TABLE first_visits (
        day          integer  NOT NULL,
        previous_day integer  NOT NULL,
        key          bigint   NOT NULL,
        shard        smallint NOT NULL,
        clients      bigint   NOT NULL,
        PRIMARY KEY (day, previous_day, key, shard)
    );
    CREATE INDEX first_visits_by_key ON first_visits (key, day);
    CREATE INDEX hits_by_client ON hits (client) WHERE client IS NOT NULL;
    CREATE INDEX hits_by_day ON hits (day);
    -- Counts the clients forgotten, so that a collector knows when what it remembers of presence is stale.
    CREATE TABLE erasures (generation bigint NOT NULL);
    INSERT INTO erasures VALUES (0);

    -- The lock that serialises the day arithmetic of one (client, key). Locks of the whole database take
    -- two integers, which PostgreSQL keeps apart from these.
    CREATE FUNCTION zncip_pair_lock(p_client bigint, p_key bigint) RETURNS bigint
    LANGUAGE sql IMMUTABLE AS $$ SELECT p_client # (p_key << 32) $$;

    -- p_known: the hit's client is known to be present on its day under its key, so the hit brings no
    -- client, key or presence; it holds only while no client was forgotten since generation p_generation.
    -- Returns the generation the hits were stored under.
    CREATE FUNCTION zncip_append(p_shard integer, p_generation bigint, p_known boolean[], p_received bigint[], p_path bytea[], p_body bytea[],
        p_accepted boolean[], p_reason bytea[], p_agent bytea[], p_day integer[], p_cid bytea[],
        p_application bytea[], p_version bytea[], p_type bytea[], p_category bytea[], p_action bytea[],
        p_label bytea[], p_value bigint[]) RETURNS bigint
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
    )sql",
};

// Lets collectors that start at once migrate one after the other.
constexpr const char* kMigrationLock = "SELECT pg_advisory_xact_lock(7420, 1)";

constexpr Oid kBool = 16, kBytea = 17, kInt8 = 20, kInt4 = 23;
constexpr Oid kBoolArray = 1000, kByteaArray = 1001, kInt4Array = 1007, kInt8Array = 1016;

// A one-dimensional array in PostgreSQL's binary form, built element by element.
class ArrayParam
{
public:
    explicit ArrayParam(Oid element) : element_(element) {}
    void add(const std::string& bytes) { put(bytes.data(), bytes.size()); }
    void add(int64_t v)
    {
        const uint64_t be = htobe64(static_cast<uint64_t>(v));
        put(&be, 8);
    }
    void add(int32_t v)
    {
        const uint32_t be = htobe32(static_cast<uint32_t>(v));
        put(&be, 4);
    }
    void add(bool v)
    {
        const char b = v ? 1 : 0;
        put(&b, 1);
    }
    void addNull()
    {
        word(-1);
        ++count_;
        null_ = true;
    }
    std::string encoded() const
    {
        std::string head;
        auto append = [&](int32_t v)
        {
            const uint32_t be = htobe32(static_cast<uint32_t>(v));
            head.append(reinterpret_cast<const char*>(&be), 4);
        };
        append(count_ ? 1 : 0);
        append(null_ ? 1 : 0);
        append(static_cast<int32_t>(element_));
        if (count_)
        {
            append(count_);
            append(1);
        }
        return head + data_;
    }

private:
    void word(int32_t v)
    {
        const uint32_t be = htobe32(static_cast<uint32_t>(v));
        data_.append(reinterpret_cast<const char*>(&be), 4);
    }
    void put(const void* p, size_t n)
    {
        word(static_cast<int32_t>(n));
        data_.append(static_cast<const char*>(p), n);
        ++count_;
    }
    Oid element_;
    std::string data_;
    int32_t count_ = 0;
    bool null_ = false;
};

// Parameters of one call, every one sent in binary form.
struct Params
{
    std::vector<std::string> values;
    std::vector<bool> isNull;

    Params& add(std::string bytes)
    {
        values.push_back(std::move(bytes));
        isNull.push_back(false);
        return *this;
    }
    Params& addNull()
    {
        values.emplace_back();
        isNull.push_back(true);
        return *this;
    }
    Params& add(int64_t v)
    {
        const uint64_t be = htobe64(static_cast<uint64_t>(v));
        return add(std::string(reinterpret_cast<const char*>(&be), 8));
    }
    Params& add(int32_t v)
    {
        const uint32_t be = htobe32(static_cast<uint32_t>(v));
        return add(std::string(reinterpret_cast<const char*>(&be), 4));
    }
};

struct ResultDeleter
{
    void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// Reading binary result columns.
int64_t integer(const PGresult* r, int row, int column)
{
    const char* v = PQgetvalue(r, row, column);
    switch (PQgetlength(r, row, column))
    {
    case 8:
    {
        uint64_t be;
        std::memcpy(&be, v, 8);
        return static_cast<int64_t>(be64toh(be));
    }
    case 4:
    {
        uint32_t be;
        std::memcpy(&be, v, 4);
        return static_cast<int32_t>(be32toh(be));
    }
    case 2:
    {
        uint16_t be;
        std::memcpy(&be, v, 2);
        return static_cast<int16_t>(be16toh(be));
    }
    case 1:
        return *v;
    default:
        return 0;
    }
}

std::string bytes(const PGresult* r, int row, int column)
{
    return std::string(PQgetvalue(r, row, column), static_cast<size_t>(PQgetlength(r, row, column)));
}

RollupKey keyOf(const PGresult* r, int row, int first)
{
    RollupKey k;
    k.scope = static_cast<RollupKey::Scope>(integer(r, row, first));
    k.application = bytes(r, row, first + 1);
    k.version = bytes(r, row, first + 2);
    k.type = bytes(r, row, first + 3);
    k.category = bytes(r, row, first + 4);
    k.action = bytes(r, row, first + 5);
    k.label = bytes(r, row, first + 6);
    return k;
}

// One line of a libpq message, which may span several.
std::string oneLine(const char* message)
{
    std::string out;
    for (const char* p = message; *p; ++p)
    {
        if (*p == '\n' || *p == '\t' || *p == '\r')
        {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        }
        else
            out += *p;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// The address as it may be printed: without its password.
std::string printable(const std::string& uri)
{
    std::string out = uri;
    const size_t scheme = out.find("://");
    if (scheme != std::string::npos)
    {
        const size_t at = out.find('@', scheme + 3);
        const size_t slash = out.find('/', scheme + 3);
        const size_t colon = out.find(':', scheme + 3);
        if (at != std::string::npos && (slash == std::string::npos || at < slash) && colon < at)
            out.replace(colon + 1, at - colon - 1, "***");
    }
    for (size_t p = out.find("password="); p != std::string::npos; p = out.find("password=", p + 1))
    {
        const size_t end = out.find('&', p);
        out.replace(p + 9, (end == std::string::npos ? out.size() : end) - p - 9, "***");
    }
    return out;
}

struct Statement
{
    const char* name;
    const char* sql;
    std::vector<Oid> types;
};

// Every statement the store runs on data, prepared on each connection.
const Statement kAppend{"append",
                        "SELECT zncip_append($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, "
                        "$15, $16, $17, $18)",
                        {kInt4, kInt8, kBoolArray, kInt8Array, kByteaArray, kByteaArray, kBoolArray,
                         kByteaArray, kByteaArray, kInt4Array, kByteaArray, kByteaArray, kByteaArray,
                         kByteaArray, kByteaArray, kByteaArray, kByteaArray, kInt8Array}};
const Statement kForget{
    "forget", "SELECT removed_hits, removed_days FROM zncip_forget($1, $2)", {kInt4, kBytea}};
const Statement kPrune{
    "prune", "DELETE FROM hits WHERE id IN (SELECT id FROM hits WHERE day < $1 LIMIT 10000)", {kInt4}};
const Statement kEach{
    "each", "SELECT id, received_us, path, body, accepted, reason, user_agent FROM hits ORDER BY id", {}};
const Statement kCount{"count", "SELECT count(*) FROM hits", {}};
const Statement kBounds{"bounds",
                        "SELECT (SELECT min(day) FROM daily_counts), (SELECT max(day) FROM daily_counts), "
                        "(SELECT min(day) FROM daily_rejections), (SELECT max(day) FROM daily_rejections)",
                        {}};
const Statement kCounts{
    "counts",
    "SELECT c.day, k.scope, k.application, k.version, k.type, k.category, k.action, k.label, "
    "sum(c.hits)::bigint, sum(c.value_sum)::bigint FROM daily_counts c JOIN rollup_keys k ON k.id = c.key "
    "WHERE c.day BETWEEN $1 AND $2 AND ($3::bytea IS NULL OR k.version = $3) "
    "GROUP BY c.day, k.id HAVING sum(c.hits) <> 0",
    {kInt4, kInt4, kBytea}};
const Statement kClients{
    "clients",
    "SELECT k.scope, k.application, k.version, k.type, k.category, k.action, k.label, sum(f.clients)::bigint "
    "FROM first_visits f JOIN rollup_keys k ON k.id = f.key "
    "WHERE f.day BETWEEN $1 AND $2 AND f.previous_day < $1 AND CASE WHEN $3::bytea IS NULL THEN "
    "k.scope IN (1, 2, 3) ELSE k.scope IN (0, 2) AND k.version = $3 END "
    "GROUP BY k.id HAVING sum(f.clients) > 0",
    {kInt4, kInt4, kBytea}};
const Statement kDaily{
    "daily",
    "SELECT f.day, k.scope, k.application, k.version, k.type, k.category, k.action, k.label, "
    "sum(f.clients)::bigint FROM first_visits f JOIN rollup_keys k ON k.id = f.key "
    "WHERE k.scope IN (2, 3) AND f.day BETWEEN $1 AND $2 AND ($3::bytea IS NULL OR k.scope = 2 AND "
    "k.version = $3) GROUP BY f.day, k.id HAVING sum(f.clients) > 0",
    {kInt4, kInt4, kBytea}};
const Statement kRejections{"rejections",
                            "SELECT day, reason, sum(hits)::bigint FROM daily_rejections "
                            "WHERE day BETWEEN $1 AND $2 GROUP BY day, reason HAVING sum(hits) <> 0",
                            {kInt4, kInt4}};
const Statement kVersions{
    "versions", "SELECT DISTINCT version FROM rollup_keys WHERE scope = 2 ORDER BY version", {}};
const Statement kRejected{
    "rejected",
    "SELECT id, received_us, path, body, reason, user_agent FROM hits WHERE NOT accepted "
    "AND day BETWEEN $1 AND $2 ORDER BY day DESC, id DESC LIMIT $3",
    {kInt4, kInt4, kInt4}};
const Statement* const kStatements[] = {&kVersions, &kRejected, &kAppend, &kForget,  &kPrune, &kEach,
                                        &kCount,    &kBounds,   &kCounts, &kClients, &kDaily, &kRejections};

// SQLSTATEs after which the same transaction may simply run again: nothing of it was kept.
bool transient(const PGresult* r)
{
    const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
    return state && (std::strcmp(state, "40001") == 0 || std::strcmp(state, "40P01") == 0);
}

class PostgresStore : public HitStore
{
public:
    PostgresStore(const std::string& uri, const StoreOptions& options) : uri_(uri), options_(options)
    {
        try
        {
            open();
        }
        catch (...)
        {
            PQfinish(conn_);
            throw;
        }
    }

    ~PostgresStore() override { PQfinish(conn_); }

    void append(const std::vector<HitRecord>& hits) override
    {
        if (hits.empty())
            return;
        std::lock_guard<std::mutex> lock(mutex_);
        ArrayParam known(kBool), received(kInt8), path(kBytea), body(kBytea), accepted(kBool), reason(kBytea),
            agent(kBytea), day(kInt4), cid(kBytea), value(kInt8);
        std::vector<ArrayParam> key(6, ArrayParam(kBytea));
        std::vector<std::string> presence; // of the hits that count a client
        for (const HitRecord& h : hits)
        {
            const HitFacts f = decodeFacts(h);
            received.add(h.receivedUs);
            path.add(h.path);
            body.add(h.body);
            accepted.add(h.accepted);
            reason.add(h.reason);
            agent.add(h.userAgent);
            day.add(f.day);
            f.client.empty() ? cid.addNull() : cid.add(f.client);
            const std::string* fields[] = {&f.application, &f.version, &f.type,
                                           &f.category,    &f.action,  &f.label};
            std::string present = f.client + '\0' + std::to_string(f.day);
            for (size_t i = 0; i < key.size(); ++i)
            {
                h.accepted ? key[i].add(*fields[i]) : key[i].addNull();
                (present += '\0') += *fields[i];
            }
            if (h.accepted && f.value)
                value.add(*f.value);
            else
                value.addNull();
            const bool counts = h.accepted && !f.client.empty();
            known.add(counts && present_.count(present) > 0);
            if (counts)
                presence.push_back(std::move(present));
        }
        Params p;
        p.add(shard_).add(generation_).add(known.encoded()).add(received.encoded()).add(path.encoded());
        p.add(body.encoded()).add(accepted.encoded()).add(reason.encoded()).add(agent.encoded());
        p.add(day.encoded()).add(cid.encoded());
        for (const ArrayParam& k : key)
            p.add(k.encoded());
        p.add(value.encoded());
        // Two batches that still meet on a row end one of them in a deadlock; it kept nothing, so it runs
        // again.
        for (int attempt = 0;; ++attempt)
            if (Result r = run(kAppend, p, "storing hits", attempt < 2))
            {
                // Committed: these clients are present from now on, until one is forgotten anywhere.
                const int64_t generation = integer(r.get(), 0, 0);
                if (generation != generation_ || present_.size() + presence.size() > kPresenceLimit)
                    present_.clear();
                generation_ = generation;
                for (std::string& present : presence)
                    present_.insert(std::move(present));
                return;
            }
    }

    // A call of the batch function costs about as much for one hit as for eight.
    std::chrono::microseconds batchGatherWait() const override { return std::chrono::microseconds(500); }

    void forEach(const std::function<void(const StoredHit&)>& visit) const override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ensureConnected();
        if (!PQsendQueryPrepared(conn_, kEach.name, 0, nullptr, nullptr, nullptr, 1) ||
            !PQsetSingleRowMode(conn_))
            throw failure("reading hits", nullptr);
        StoredHit hit;
        std::string error;
        // Every result is read, however the visit ends, so that the connection can serve the next call.
        while (PGresult* raw = PQgetResult(conn_))
        {
            Result r(raw);
            const ExecStatusType status = PQresultStatus(raw);
            if (status == PGRES_SINGLE_TUPLE && error.empty())
            {
                hit.id = integer(raw, 0, 0);
                hit.receivedUs = integer(raw, 0, 1);
                hit.path = bytes(raw, 0, 2);
                hit.body = bytes(raw, 0, 3);
                hit.accepted = integer(raw, 0, 4) != 0;
                hit.reason = bytes(raw, 0, 5);
                hit.userAgent = bytes(raw, 0, 6);
                try
                {
                    visit(hit);
                }
                catch (const std::exception& e)
                {
                    error = e.what();
                }
            }
            else if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK && error.empty())
                error = "reading hits failed: " + oneLine(PQresultErrorMessage(raw));
        }
        if (!error.empty())
            throw StoreError(error);
    }

    int64_t storedHits() const override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Result r = run(kCount, {}, "counting hits");
        return integer(r.get(), 0, 0);
    }

    Rollups rollups(const Period& period) const override;

    std::vector<std::string> versions() const override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Result r = run(kVersions, {}, "reading the versions");
        std::vector<std::string> result;
        for (int i = 0; i < PQntuples(r.get()); ++i)
            result.push_back(bytes(r.get(), i, 0));
        return result;
    }

    std::vector<StoredHit> rejectedSamples(const Period& period, int limit) const override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Params p;
        p.add(period.from).add(period.to).add(int32_t{limit});
        Result r = run(kRejected, p, "reading rejected hits");
        std::vector<StoredHit> result;
        for (int i = 0; i < PQntuples(r.get()); ++i)
        {
            StoredHit h;
            h.id = integer(r.get(), i, 0);
            h.receivedUs = integer(r.get(), i, 1);
            h.path = bytes(r.get(), i, 2);
            h.body = bytes(r.get(), i, 3);
            h.reason = bytes(r.get(), i, 4);
            h.userAgent = bytes(r.get(), i, 5);
            result.push_back(std::move(h));
        }
        return result;
    }

    Forgotten forget(const std::string& client) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        present_.clear();
        Params p;
        p.add(shard_).add(client);
        for (int attempt = 0;; ++attempt)
            if (Result r = run(kForget, p, "forgetting a client", attempt < 2))
                return {integer(r.get(), 0, 0), integer(r.get(), 0, 1)};
    }

    int64_t pruneRawBefore(int32_t day) override
    {
        // Each statement is its own short transaction, so that hits arriving meanwhile hardly wait.
        std::lock_guard<std::mutex> lock(mutex_);
        Params p;
        p.add(day);
        int64_t removed = 0;
        for (;;)
        {
            Result r = run(kPrune, p, "pruning hits");
            const int64_t changed = std::atoll(PQcmdTuples(r.get()));
            if (changed == 0)
                return removed;
            removed += changed;
        }
    }

private:
    void open()
    {
        if (options_.maxBytes > 0)
            throw StoreError("a ceiling on the database size is for an SQLite file; a shared PostgreSQL "
                             "database is bounded by the server's own means");
        connect();
        if (options_.readOnly)
        {
            const int version = currentVersion();
            if (version == 0)
                throw StoreError("database " + printable(uri_) + " holds no collected hits");
            if (version > postgresSchemaVersion())
                throw StoreError("database " + printable(uri_) +
                                 " was written by a newer collector (schema " + std::to_string(version) +
                                 ")");
        }
        else
            migrate();
        prepare();
        ready_ = true;
    }

    void connect() const
    {
        // An address that names no timeout of its own still fails within seconds when nothing answers.
        const char* keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
        const char* values[] = {"10", "zncip-collector", uri_.c_str(), nullptr};
        PQfinish(conn_);
        conn_ = PQconnectdbParams(keywords, values, 1);
        if (!conn_)
            throw StoreError("cannot connect to database " + printable(uri_) + ": out of memory");
        if (PQstatus(conn_) != CONNECTION_OK)
        {
            const std::string message = oneLine(PQerrorMessage(conn_));
            PQfinish(conn_);
            conn_ = nullptr;
            throw StoreError("cannot connect to database " + printable(uri_) + ": " + message);
        }
        PQsetNoticeProcessor(
            conn_, [](void*, const char*) {}, nullptr); // "already exists, skipping"
        exec(options_.syncFull ? "SET synchronous_commit = on" : "SET synchronous_commit = off",
             "setting up the connection");
        // Each connection adds to its own counter rows, as far as sixteen shards allow.
        Result r(PQexecParams(conn_, "SELECT (pg_backend_pid() % 16)::integer", 0, nullptr, nullptr, nullptr,
                              nullptr, 1));
        if (PQresultStatus(r.get()) != PGRES_TUPLES_OK)
            throw failure("setting up the connection", r.get());
        shard_ = static_cast<int32_t>(integer(r.get(), 0, 0));
    }

    void prepare() const
    {
        for (const Statement* s : kStatements)
        {
            Result r(PQprepare(conn_, s->name, s->sql, static_cast<int>(s->types.size()), s->types.data()));
            if (PQresultStatus(r.get()) != PGRES_COMMAND_OK)
                throw failure("preparing statements", r.get());
        }
    }

    // A lost connection is opened again for the next call; the call that found it lost fails.
    void ensureConnected() const
    {
        if (ready_ && PQstatus(conn_) == CONNECTION_OK)
            return;
        ready_ = false;
        connect();
        prepare();
        ready_ = true;
    }

    void exec(const char* sql, const char* what) const
    {
        Result r(PQexec(conn_, sql));
        if (PQresultStatus(r.get()) != PGRES_COMMAND_OK && PQresultStatus(r.get()) != PGRES_TUPLES_OK)
            throw failure(what, r.get());
    }

    // Runs a prepared statement with binary parameters and results. Returns null only when retry is
    // allowed and the transaction failed in a way that leaves nothing behind.
    Result run(const Statement& s, const Params& p, const char* what, bool retry = false) const
    {
        ensureConnected();
        std::vector<const char*> values;
        std::vector<int> lengths, formats(p.values.size(), 1);
        for (size_t i = 0; i < p.values.size(); ++i)
        {
            values.push_back(p.isNull[i] ? nullptr : p.values[i].data());
            lengths.push_back(static_cast<int>(p.values[i].size()));
        }
        Result r(PQexecPrepared(conn_, s.name, static_cast<int>(values.size()), values.data(), lengths.data(),
                                formats.data(), 1));
        const ExecStatusType status = PQresultStatus(r.get());
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
            return r;
        if (retry && transient(r.get()))
            return nullptr;
        throw failure(what, r.get());
    }

    StoreError failure(const char* what, const PGresult* r) const
    {
        const std::string message = oneLine(r ? PQresultErrorMessage(r) : PQerrorMessage(conn_));
        if (PQstatus(conn_) != CONNECTION_OK)
            return StoreError(std::string(what) + " failed: lost the connection to database " +
                              printable(uri_) + ": " + message);
        return StoreError(std::string(what) + " failed: " + message);
    }

    int currentVersion() const
    {
        Result exists(PQexec(conn_, "SELECT to_regclass('schema_version') IS NOT NULL"));
        if (PQresultStatus(exists.get()) != PGRES_TUPLES_OK)
            throw failure("reading the schema version", exists.get());
        if (std::strcmp(PQgetvalue(exists.get(), 0, 0), "t") != 0)
            return 0;
        Result version(PQexec(conn_, "SELECT coalesce(max(version), 0) FROM schema_version"));
        if (PQresultStatus(version.get()) != PGRES_TUPLES_OK)
            throw failure("reading the schema version", version.get());
        return std::atoi(PQgetvalue(version.get(), 0, 0));
    }

    void migrate()
    {
        exec("BEGIN", "migrating");
        try
        {
            exec(kMigrationLock, "migrating");
            exec("CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL, applied timestamptz "
                 "NOT NULL DEFAULT now())",
                 "migrating");
            const int version = currentVersion();
            if (version > postgresSchemaVersion())
                throw StoreError("database " + printable(uri_) +
                                 " was written by a newer collector (schema " + std::to_string(version) +
                                 ")");
            for (int v = version; v < postgresSchemaVersion(); ++v)
            {
                exec(kMigrations[v], "migrating");
                Params p;
                p.add(int32_t{v + 1});
                const char* value = p.values[0].data();
                const int length = 4, format = 1;
                Result r(PQexecParams(conn_, "INSERT INTO schema_version (version) VALUES ($1::integer)", 1,
                                      nullptr, &value, &length, &format, 1));
                if (PQresultStatus(r.get()) != PGRES_COMMAND_OK)
                    throw failure("recording the schema version", r.get());
            }
            exec("COMMIT", "migrating");
        }
        catch (...)
        {
            Result(PQexec(conn_, "ROLLBACK"));
            throw;
        }
    }

    std::string uri_;
    StoreOptions options_;
    mutable PGconn* conn_ = nullptr;
    mutable int32_t shard_ = 0;
    mutable bool ready_ = false; // connected, and the statements prepared
    // Client, day and key of the hits stored: their presence is known without asking the database.
    std::unordered_set<std::string> present_;
    int64_t generation_ = -1; // of erasures, when present_ was last confirmed
    static constexpr size_t kPresenceLimit = 1 << 20;
    mutable std::mutex mutex_; // one call on the connection at a time
};

Rollups PostgresStore::rollups(const Period& period) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    Rollups r;
    Result bounds = run(kBounds, {}, "reading the rollups");
    for (int i : {0, 2})
        if (!PQgetisnull(bounds.get(), 0, i))
            r.coverDays(static_cast<int32_t>(integer(bounds.get(), 0, i)),
                        static_cast<int32_t>(integer(bounds.get(), 0, i + 1)));
    const auto days = r.storedDaysOf(period);
    if (!days)
        return r;
    const int32_t from = days->first, to = days->second;
    Params p;
    p.add(from).add(to);
    period.version ? p.add(*period.version) : p.addNull();

    Result counts = run(kCounts, p, "reading the daily counts");
    for (int i = 0; i < PQntuples(counts.get()); ++i)
        r.counts.push_back({static_cast<int32_t>(integer(counts.get(), i, 0)), keyOf(counts.get(), i, 1),
                            integer(counts.get(), i, 8), integer(counts.get(), i, 9)});
    Result clients = run(kClients, p, "reading the client counts");
    for (int i = 0; i < PQntuples(clients.get()); ++i)
        r.clients.push_back({keyOf(clients.get(), i, 0), integer(clients.get(), i, 7)});
    Result daily = run(kDaily, p, "reading the daily client counts");
    for (int i = 0; i < PQntuples(daily.get()); ++i)
        r.dailyClients.push_back({static_cast<int32_t>(integer(daily.get(), i, 0)), keyOf(daily.get(), i, 1),
                                  integer(daily.get(), i, 8)});
    p.values.pop_back();
    p.isNull.pop_back();
    Result rejections = run(kRejections, p, "reading the rejections");
    for (int i = 0; i < PQntuples(rejections.get()); ++i)
        r.rejections.push_back({static_cast<int32_t>(integer(rejections.get(), i, 0)),
                                bytes(rejections.get(), i, 1), integer(rejections.get(), i, 2)});
    return r;
}

} // namespace

int postgresSchemaVersion()
{
    return static_cast<int>(sizeof kMigrations / sizeof kMigrations[0]);
}

std::unique_ptr<HitStore> openPostgresStore(const std::string& uri, const StoreOptions& options)
{
    return std::make_unique<PostgresStore>(uri, options);
}

} // namespace zncip::collector
