#include "ingest/hit_facts.h"
#include "store/hit_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <unordered_set>

#include <sys/stat.h>

namespace zncip::collector
{
namespace
{

// How the rollups count distinct clients over any period without reading per-client rows:
// presence holds one row per (client, key, day) on which the client sent a hit under the key, and
// first_visits counts those rows by (day, previous day the same client was present under the key).
// The clients present under a key between days F and T are then those with a presence row in [F, T]
// whose previous one is before F: each such client has exactly one, its first in the period.
const char* const kMigrations[] = {
    R"sql(
    CREATE TABLE hits (
        id          INTEGER PRIMARY KEY,
        received_us INTEGER NOT NULL,
        path        TEXT    NOT NULL,
        body        BLOB    NOT NULL,
        accepted    INTEGER NOT NULL,
        reason      TEXT    NOT NULL,
        user_agent  TEXT    NOT NULL
    );
    )sql",
    R"sql(
    CREATE INDEX hits_by_verdict ON hits (accepted, received_us);
    )sql",
    R"sql(
    DROP INDEX hits_by_verdict;
    ALTER TABLE hits ADD COLUMN day INTEGER;
    ALTER TABLE hits ADD COLUMN client INTEGER;
    ALTER TABLE hits ADD COLUMN rollup_key INTEGER;
    ALTER TABLE hits ADD COLUMN value INTEGER;
    CREATE TABLE clients (
        id  INTEGER PRIMARY KEY,
        cid TEXT NOT NULL UNIQUE
    );
    CREATE TABLE rollup_keys (
        id          INTEGER PRIMARY KEY,
        scope       INTEGER NOT NULL,
        application TEXT    NOT NULL,
        version     TEXT    NOT NULL,
        type        TEXT    NOT NULL,
        category    TEXT    NOT NULL,
        action      TEXT    NOT NULL,
        label       TEXT    NOT NULL,
        UNIQUE (scope, application, version, type, category, action, label)
    );
    CREATE TABLE daily_counts (
        day       INTEGER NOT NULL,
        key       INTEGER NOT NULL,
        hits      INTEGER NOT NULL,
        value_sum INTEGER NOT NULL,
        PRIMARY KEY (day, key)
    ) WITHOUT ROWID;
    CREATE TABLE daily_rejections (
        day    INTEGER NOT NULL,
        reason TEXT    NOT NULL,
        hits   INTEGER NOT NULL,
        PRIMARY KEY (day, reason)
    ) WITHOUT ROWID;
    CREATE TABLE presence (
        client INTEGER NOT NULL,
        key    INTEGER NOT NULL,
        day    INTEGER NOT NULL,
        PRIMARY KEY (client, key, day)
    ) WITHOUT ROWID;
    CREATE TABLE first_visits (
        day          INTEGER NOT NULL,
        previous_day INTEGER NOT NULL,
        key          INTEGER NOT NULL,
        clients      INTEGER NOT NULL,
        PRIMARY KEY (day, previous_day, key)
    ) WITHOUT ROWID;
    CREATE INDEX first_visits_by_key ON first_visits (key, day);
    CREATE TABLE erasures (generation INTEGER NOT NULL);
    INSERT INTO erasures VALUES (0);
    CREATE INDEX hits_by_day ON hits (day);
    CREATE INDEX rejected_hits_by_day ON hits (day) WHERE accepted = 0;
    )sql",
};

// The schema version whose migration also decodes the hits already stored.
constexpr int kFactsVersion = 3;

// previous_day of a client's first presence under a key.
constexpr int32_t kNoDay = INT32_MIN;

class Statement
{
public:
    Statement(sqlite3* db, const char* sql) : db_(db)
    {
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) != SQLITE_OK)
            throw StoreError(std::string("cannot prepare statement: ") + sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return stmt_; }

    Statement& bind(int i, int64_t v)
    {
        sqlite3_bind_int64(stmt_, i, v);
        return *this;
    }
    // Text is bound without a copy, so it must outlive the statement's next run: a temporary may not.
    Statement& bind(int i, const std::string& v)
    {
        sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
        return *this;
    }
    Statement& bind(int i, std::string&& v) = delete;
    Statement& bindBlob(int i, const std::string& v)
    {
        sqlite3_bind_blob(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
        return *this;
    }
    Statement& bindBlob(int i, std::string&& v) = delete;
    Statement& bindNull(int i)
    {
        sqlite3_bind_null(stmt_, i);
        return *this;
    }

    // Runs a statement that returns no rows.
    void run(const char* what)
    {
        const int rc = sqlite3_step(stmt_);
        reset();
        if (rc != SQLITE_DONE && rc != SQLITE_ROW)
            throw StoreError(std::string(what) + " failed: " + sqlite3_errstr(rc));
    }
    // Steps once: true with a row to read, false when done. Call reset() when finished.
    bool row(const char* what)
    {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
        {
            const std::string message = sqlite3_errmsg(db_);
            reset();
            throw StoreError(std::string(what) + " failed: " + message);
        }
        return false;
    }
    void reset()
    {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    int64_t integer(int i) const { return sqlite3_column_int64(stmt_, i); }
    bool isNull(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }
    std::string text(int i) const
    {
        const void* data = sqlite3_column_blob(stmt_, i);
        const int size = sqlite3_column_bytes(stmt_, i);
        return data ? std::string(static_cast<const char*>(data), static_cast<size_t>(size)) : std::string();
    }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// Reads rows of a statement, resetting it however the reading ends.
template <typename Visit>
void eachRow(Statement& s, const char* what, Visit visit)
{
    try
    {
        while (s.row(what))
            visit(s);
    }
    catch (...)
    {
        s.reset();
        throw;
    }
    s.reset();
}

RollupKey keyOf(const Statement& s, int first)
{
    RollupKey k;
    k.scope = static_cast<RollupKey::Scope>(s.integer(first));
    k.application = s.text(first + 1);
    k.version = s.text(first + 2);
    k.type = s.text(first + 3);
    k.category = s.text(first + 4);
    k.action = s.text(first + 5);
    k.label = s.text(first + 6);
    return k;
}

// The four keys an accepted hit is counted under, most detailed first.
std::vector<RollupKey> keysOf(const HitFacts& f)
{
    using S = RollupKey::Scope;
    return {
        {S::Event, f.application, f.version, f.type, f.category, f.action, f.label},
        {S::EventAnyVersion, f.application, "", f.type, f.category, f.action, f.label},
        {S::Application, f.application, f.version, "", "", "", ""},
        {S::All, "", "", "", "", "", ""},
    };
}

class SqliteStore : public HitStore
{
public:
    SqliteStore(const std::string& path, const StoreOptions& options) : path_(path)
    {
        const int flags =
            options.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        {
            const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            db_ = nullptr;
            throw StoreError("cannot open database " + path + ": " + message);
        }
        try
        {
            sqlite3_busy_timeout(db_, options.busyTimeoutMs);
            if (!options.readOnly)
            {
                // SQLite quietly falls back to read-only for a file it may not write; better to refuse
                // at start than to answer every hit with 503.
                if (sqlite3_db_readonly(db_, "main") == 1)
                    throw StoreError("cannot open database " + path + " for writing: permission denied");
                // Checked, not assumed: some file systems cannot hold a write-ahead log.
                if (queryText("PRAGMA journal_mode=WAL") != "wal")
                    throw StoreError("cannot switch database " + path + " to write-ahead logging");
                exec(options.syncFull ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
                if (options.maxBytes > 0)
                {
                    const int64_t pageSize = std::stoll(queryText("PRAGMA page_size"));
                    const std::string pages = std::to_string(std::max<int64_t>(1, options.maxBytes / pageSize));
                    exec(("PRAGMA max_page_count=" + pages).c_str());
                }
                migrate();
            }
            else
            {
                const int version = currentVersion();
                if (version == 0)
                    throw StoreError(path + " holds no collected hits");
                if (version > sqliteSchemaVersion())
                    throw StoreError(path + " was written by a newer collector (schema " +
                                     std::to_string(version) + ")");
                olderSchema_ = version < sqliteSchemaVersion();
            }
            struct stat file;
            if (stat(path.c_str(), &file) == 0)
                file_ = {file.st_dev, file.st_ino};
            if (!options.readOnly)
                prepare();
        }
        catch (...)
        {
            finalize();
            sqlite3_close(db_);
            throw;
        }
    }

    ~SqliteStore() override
    {
        finalize();
        sqlite3_close(db_);
    }

    void append(const std::vector<HitRecord>& hits) override
    {
        // SQLite goes on writing to a file that was deleted or replaced, and what it writes there is lost.
        struct stat file;
        if (stat(path_.c_str(), &file) != 0 || std::make_pair(file.st_dev, file.st_ino) != file_)
            throw StoreError("database " + path_ + " was deleted or replaced; restart the collector");
        transaction(
            [&]
            {
                for (const HitRecord& h : hits)
                {
                    const Decoded d = decode(h);
                    Statement& s = *insert_;
                    s.bind(1, h.receivedUs).bind(2, h.path).bindBlob(3, h.body).bind(4, h.accepted ? 1 : 0);
                    s.bind(5, h.reason).bind(6, h.userAgent);
                    bindFacts(s, 7, d).run("storing a hit");
                    addToRollups(h, d);
                }
            });
    }

    void forEach(const std::function<void(const StoredHit&)>& visit) const override
    {
        Statement select(db_, "SELECT id, received_us, path, body, accepted, reason, user_agent "
                              "FROM hits ORDER BY id");
        StoredHit hit;
        eachRow(select, "reading hits",
                [&](const Statement& s)
                {
                    hit.id = s.integer(0);
                    hit.receivedUs = s.integer(1);
                    hit.path = s.text(2);
                    hit.body = s.text(3);
                    hit.accepted = s.integer(4) != 0;
                    hit.reason = s.text(5);
                    hit.userAgent = s.text(6);
                    visit(hit);
                });
    }

    int64_t storedHits() const override
    {
        Statement s(db_, "SELECT count(*) FROM hits");
        int64_t n = 0;
        eachRow(s, "counting hits", [&](const Statement& row) { n = row.integer(0); });
        return n;
    }

    Rollups rollups(const Period& period) const override;
    std::vector<std::string> versions() const override;
    std::vector<StoredHit> rejectedSamples(const Period& period, int limit) const override;
    Forgotten forget(const std::string& client) override;
    int64_t pruneRawBefore(int32_t day) override;

private:
    void prepare()
    {
        insert_ = std::make_unique<Statement>(
            db_, "INSERT INTO hits (received_us, path, body, accepted, reason, user_agent, day, client, "
                 "rollup_key, value) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        setFacts_ = std::make_unique<Statement>(
            db_, "UPDATE hits SET day = ?, client = ?, rollup_key = ?, value = ? WHERE id = ?");
        findClient_ = std::make_unique<Statement>(db_, "SELECT id FROM clients WHERE cid = ?");
        addClient_ = std::make_unique<Statement>(db_, "INSERT INTO clients (cid) VALUES (?)");
        findKey_ = std::make_unique<Statement>(
            db_, "SELECT id FROM rollup_keys WHERE scope = ? AND application = ? AND version = ? AND "
                 "type = ? AND category = ? AND action = ? AND label = ?");
        addKey_ = std::make_unique<Statement>(
            db_, "INSERT INTO rollup_keys (scope, application, version, type, category, action, label) "
                 "VALUES (?, ?, ?, ?, ?, ?, ?)");
        addCount_ = std::make_unique<Statement>(
            db_, "INSERT INTO daily_counts (day, key, hits, value_sum) VALUES (?, ?, ?, ?) "
                 "ON CONFLICT (day, key) DO UPDATE SET hits = hits + excluded.hits, "
                 "value_sum = value_sum + excluded.value_sum");
        addRejection_ = std::make_unique<Statement>(
            db_, "INSERT INTO daily_rejections (day, reason, hits) VALUES (?, ?, ?) "
                 "ON CONFLICT (day, reason) DO UPDATE SET hits = hits + excluded.hits");
        addPresence_ = std::make_unique<Statement>(
            db_, "INSERT OR IGNORE INTO presence (client, key, day) VALUES (?, ?, ?)");
        previousDay_ = std::make_unique<Statement>(
            db_, "SELECT max(day) FROM presence WHERE client = ? AND key = ? AND day < ?");
        nextDay_ = std::make_unique<Statement>(
            db_, "SELECT min(day) FROM presence WHERE client = ? AND key = ? AND day > ?");
        addFirstVisits_ = std::make_unique<Statement>(
            db_, "INSERT INTO first_visits (day, previous_day, key, clients) VALUES (?, ?, ?, ?) "
                 "ON CONFLICT (day, previous_day, key) DO UPDATE SET clients = clients + excluded.clients");
        erasures_ = std::make_unique<Statement>(db_, "SELECT generation FROM erasures");
        begin_ = std::make_unique<Statement>(db_, "BEGIN IMMEDIATE");
        commit_ = std::make_unique<Statement>(db_, "COMMIT");
    }

    void finalize()
    {
        for (auto* s : {&insert_, &setFacts_, &findClient_, &addClient_, &findKey_, &addKey_, &addCount_,
                        &addRejection_, &addPresence_, &previousDay_, &nextDay_, &addFirstVisits_, &erasures_,
                        &begin_, &commit_})
            s->reset();
    }

    template <typename Work>
    void transaction(Work work)
    {
        begin_->run("begin");
        try
        {
            // Ids and presence remembered from earlier transactions hold until a client is forgotten,
            // here or by another process.
            int64_t generation = 0;
            eachRow(*erasures_, "reading the erasures", [&](const Statement& s) { generation = s.integer(0); });
            if (generation != erasures_seen_)
                forgetCaches();
            erasures_seen_ = generation;
            work();
            commit_->run("commit");
        }
        catch (...)
        {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            // What the transaction added was rolled back with it.
            forgetCaches();
            throw;
        }
    }

    // A hit's facts with its client and key as ids.
    struct Decoded
    {
        HitFacts facts;
        int64_t client = 0;   // 0: the hit names no client
        int64_t eventKey = 0; // 0: rejected
        std::vector<int64_t> keys;
    };

    Decoded decode(const HitRecord& hit)
    {
        Decoded d;
        d.facts = decodeFacts(hit);
        if (!d.facts.client.empty())
            d.client = clientId(d.facts.client);
        if (hit.accepted)
        {
            for (const RollupKey& k : keysOf(d.facts))
                d.keys.push_back(keyId(k));
            d.eventKey = d.keys[0];
        }
        return d;
    }

    // Binds day, client, rollup_key and value from parameter i on.
    static Statement& bindFacts(Statement& s, int i, const Decoded& d)
    {
        s.bind(i, d.facts.day);
        d.client ? s.bind(i + 1, d.client) : s.bindNull(i + 1);
        d.eventKey ? s.bind(i + 2, d.eventKey) : s.bindNull(i + 2);
        d.eventKey && d.facts.value ? s.bind(i + 3, *d.facts.value) : s.bindNull(i + 3);
        return s;
    }

    // Adds a stored hit to the rollups.
    void addToRollups(const HitRecord& hit, const Decoded& d)
    {
        const int32_t day = d.facts.day;
        if (!hit.accepted)
        {
            addRejection_->bind(1, day).bind(2, hit.reason).bind(3, 1).run("counting a rejected hit");
            return;
        }
        addCount_->bind(1, day).bind(2, d.eventKey).bind(3, 1).bind(4, d.facts.value.value_or(0));
        addCount_->run("counting a hit");
        // A hit without a client counts, but no client is present.
        if (!d.client)
            return;
        for (const int64_t key : d.keys)
            markPresent(d.client, key, day);
    }

    void forgetCaches()
    {
        clientIds_.clear();
        keyIds_.clear();
        present_.clear();
    }

    void markPresent(int64_t client, int64_t key, int32_t day)
    {
        // Most hits come from a client already present that day: known without asking the database.
        const Presence p{client, key, day};
        if (present_.count(p))
            return;
        if (present_.size() >= kCacheLimit)
            present_.clear();
        present_.insert(p);
        addPresence_->bind(1, client).bind(2, key).bind(3, day).run("counting a client");
        if (sqlite3_changes(db_) == 0)
            return; // present that day already
        const auto previous = neighbour(*previousDay_, client, key, day);
        const int32_t before = previous.value_or(kNoDay);
        addFirstVisit(day, before, key, 1);
        // A day filled in before a later one (a late hit): the later one now follows this day.
        if (const auto next = neighbour(*nextDay_, client, key, day))
        {
            addFirstVisit(*next, before, key, -1);
            addFirstVisit(*next, day, key, 1);
        }
    }

    std::optional<int32_t> neighbour(Statement& s, int64_t client, int64_t key, int32_t day)
    {
        s.bind(1, client).bind(2, key).bind(3, day);
        std::optional<int32_t> result;
        eachRow(s, "finding a client's days",
                [&](const Statement& row)
                {
                    if (!row.isNull(0))
                        result = static_cast<int32_t>(row.integer(0));
                });
        return result;
    }

    void addFirstVisit(int32_t day, int32_t previous, int64_t key, int64_t clients)
    {
        addFirstVisits_->bind(1, day).bind(2, previous).bind(3, key).bind(4, clients);
        addFirstVisits_->run("counting a client");
    }

    int64_t clientId(const std::string& cid)
    {
        if (const auto it = clientIds_.find(cid); it != clientIds_.end())
            return it->second;
        int64_t id = 0;
        findClient_->bind(1, cid);
        eachRow(*findClient_, "finding a client", [&](const Statement& s) { id = s.integer(0); });
        if (!id)
        {
            addClient_->bind(1, cid).run("adding a client");
            id = sqlite3_last_insert_rowid(db_);
        }
        if (clientIds_.size() >= kCacheLimit)
            clientIds_.clear();
        clientIds_.emplace(cid, id);
        return id;
    }

    static std::string keyText(const RollupKey& k)
    {
        std::string text = std::to_string(static_cast<int>(k.scope));
        for (const std::string* part : {&k.application, &k.version, &k.type, &k.category, &k.action, &k.label})
            (text += '\0') += *part;
        return text;
    }

    int64_t keyId(const RollupKey& k)
    {
        std::string text = keyText(k);
        if (const auto it = keyIds_.find(text); it != keyIds_.end())
            return it->second;
        auto bindKey = [&](Statement& s)
        {
            s.bind(1, static_cast<int64_t>(k.scope)).bind(2, k.application).bind(3, k.version);
            s.bind(4, k.type).bind(5, k.category).bind(6, k.action).bind(7, k.label);
        };
        int64_t id = 0;
        bindKey(*findKey_);
        eachRow(*findKey_, "finding a rollup key", [&](const Statement& s) { id = s.integer(0); });
        if (!id)
        {
            bindKey(*addKey_);
            addKey_->run("adding a rollup key");
            id = sqlite3_last_insert_rowid(db_);
        }
        if (keyIds_.size() >= kCacheLimit)
            keyIds_.clear();
        keyIds_.emplace(std::move(text), id);
        return id;
    }

    void exec(const char* sql)
    {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK)
        {
            const std::string message = error ? error : sqlite3_errmsg(db_);
            sqlite3_free(error);
            throw StoreError("database " + path_ + ": " + message);
        }
    }

    std::string queryText(const char* sql)
    {
        Statement s(db_, sql);
        std::string result;
        eachRow(s, ("database " + path_).c_str(), [&](const Statement& row) { result = row.text(0); });
        return result;
    }

    int currentVersion()
    {
        Statement exists(
            db_, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'schema_version'");
        int64_t tables = 0;
        eachRow(exists, ("reading database " + path_).c_str(),
                [&](const Statement& s) { tables = s.integer(0); });
        if (tables == 0)
            return 0;
        Statement version(db_, "SELECT max(version) FROM schema_version");
        int64_t v = 0;
        eachRow(version, ("reading the schema version of " + path_).c_str(),
                [&](const Statement& s) { v = s.integer(0); });
        return static_cast<int>(v);
    }

    void migrate()
    {
        exec("BEGIN IMMEDIATE");
        try
        {
            exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL, applied_us INTEGER "
                 "NOT NULL)");
            const int version = currentVersion();
            if (version > sqliteSchemaVersion())
                throw StoreError(path_ + " was written by a newer collector (schema " +
                                 std::to_string(version) + ")");
            for (int v = version; v < sqliteSchemaVersion(); ++v)
            {
                exec(kMigrations[v]);
                if (v + 1 == kFactsVersion && version > 0)
                    decodeStoredHits();
                Statement record(db_, "INSERT INTO schema_version VALUES "
                                      "(?, CAST((julianday('now') - 2440587.5) * 86400000000 AS INTEGER))");
                record.bind(1, v + 1).run("recording the schema version");
            }
            exec("COMMIT");
        }
        catch (...)
        {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            finalize();
            forgetCaches();
            throw;
        }
    }

    // Hits stored before the rollups existed: decoded and counted in the order they arrived, in the
    // migration's transaction, so an interrupted upgrade leaves the database as it was.
    void decodeStoredHits()
    {
        prepare();
        Statement total(db_, "SELECT count(*) FROM hits");
        int64_t n = 0;
        eachRow(total, "counting hits", [&](const Statement& s) { n = s.integer(0); });
        std::fprintf(stderr, "zncip-collector: upgrading %s: decoding %lld stored hits\n", path_.c_str(),
                     static_cast<long long>(n));
        Statement select(db_, "SELECT id, received_us, body, accepted, reason FROM hits ORDER BY id");
        int64_t done = 0;
        HitRecord hit;
        eachRow(select, "reading hits",
                [&](const Statement& s)
                {
                    hit.receivedUs = s.integer(1);
                    hit.body = s.text(2);
                    hit.accepted = s.integer(3) != 0;
                    hit.reason = s.text(4);
                    const Decoded d = decode(hit);
                    bindFacts(*setFacts_, 1, d).bind(5, s.integer(0)).run("decoding a hit");
                    addToRollups(hit, d);
                    if (++done % 100000 == 0)
                        std::fprintf(stderr, "zncip-collector: upgrading %s: %lld of %lld hits\n",
                                     path_.c_str(), static_cast<long long>(done), static_cast<long long>(n));
                });
        std::fprintf(stderr, "zncip-collector: upgraded %s: %lld hits decoded\n", path_.c_str(),
                     static_cast<long long>(done));
    }

    static constexpr size_t kCacheLimit = 1 << 20;

    std::string path_;
    bool olderSchema_ = false; // opened read-only: only the raw hits can be read
    std::pair<dev_t, ino_t> file_{};
    sqlite3* db_ = nullptr;
    std::unique_ptr<Statement> insert_, setFacts_, findClient_, addClient_, findKey_, addKey_, addCount_,
        addRejection_, addPresence_, previousDay_, nextDay_, addFirstVisits_, erasures_, begin_, commit_;
    int64_t erasures_seen_ = 0;
    std::unordered_map<std::string, int64_t> clientIds_;
    std::unordered_map<std::string, int64_t> keyIds_; // by keyText()
    struct Presence
    {
        int64_t client, key;
        int32_t day;
        bool operator==(const Presence& o) const { return client == o.client && key == o.key && day == o.day; }
    };
    struct PresenceHash
    {
        size_t operator()(const Presence& p) const
        {
            return std::hash<int64_t>()(p.client * 1000003 + p.key) ^ std::hash<int32_t>()(p.day);
        }
    };
    std::unordered_set<Presence, PresenceHash> present_;
};


Rollups SqliteStore::rollups(const Period& period) const
{
    if (olderSchema_)
        throw StoreError(path_ + " was written by an older collector, which kept no rollups; start "
                                 "zncip-collector serve on it once to upgrade it");
    Rollups r;
    Statement bounds(db_, "SELECT (SELECT min(day) FROM daily_counts), (SELECT max(day) FROM daily_counts), "
                          "(SELECT min(day) FROM daily_rejections), (SELECT max(day) FROM daily_rejections)");
    eachRow(bounds, "reading the rollups",
            [&](const Statement& s)
            {
                for (int i : {0, 2})
                    if (!s.isNull(i))
                        r.coverDays(static_cast<int32_t>(s.integer(i)), static_cast<int32_t>(s.integer(i + 1)));
            });
    const auto days = r.storedDaysOf(period);
    if (!days)
        return r;
    const int64_t from = days->first, to = days->second;
    auto bindPeriod = [&](Statement& s)
    {
        s.bind(1, from).bind(2, to);
        period.version ? s.bind(3, *period.version) : s.bindNull(3);
    };

    Statement counts(db_, "SELECT c.day, k.scope, k.application, k.version, k.type, k.category, k.action, "
                          "k.label, c.hits, c.value_sum FROM daily_counts c JOIN rollup_keys k ON k.id = c.key "
                          "WHERE c.day BETWEEN ?1 AND ?2 AND (?3 IS NULL OR k.version = ?3) AND c.hits != 0");
    bindPeriod(counts);
    eachRow(counts, "reading the daily counts",
            [&](const Statement& s)
            { r.counts.push_back({static_cast<int32_t>(s.integer(0)), keyOf(s, 1), s.integer(8), s.integer(9)}); });

    // One index range per day: the rows of the day whose previous day lies before the period.
    Statement clients(
        db_, "WITH RECURSIVE days(d) AS (SELECT ?1 UNION ALL SELECT d + 1 FROM days WHERE d < ?2) "
             "SELECT k.scope, k.application, k.version, k.type, k.category, k.action, k.label, sum(f.clients) "
             "FROM days JOIN first_visits f ON f.day = days.d AND f.previous_day < ?1 "
             "JOIN rollup_keys k ON k.id = f.key "
             "WHERE CASE WHEN ?3 IS NULL THEN k.scope IN (1, 2, 3) ELSE k.scope IN (0, 2) AND k.version = ?3 END "
             "GROUP BY f.key HAVING sum(f.clients) > 0");
    bindPeriod(clients);
    eachRow(clients, "reading the client counts",
            [&](const Statement& s) { r.clients.push_back({keyOf(s, 0), s.integer(7)}); });

    Statement daily(
        db_, "SELECT f.day, k.scope, k.application, k.version, k.type, k.category, k.action, k.label, "
             "sum(f.clients) FROM rollup_keys k CROSS JOIN first_visits f ON f.key = k.id "
             "WHERE k.scope IN (2, 3) AND f.day BETWEEN ?1 AND ?2 "
             "AND (?3 IS NULL OR k.scope = 2 AND k.version = ?3) "
             "GROUP BY f.day, f.key HAVING sum(f.clients) > 0");
    bindPeriod(daily);
    eachRow(daily, "reading the daily client counts",
            [&](const Statement& s)
            { r.dailyClients.push_back({static_cast<int32_t>(s.integer(0)), keyOf(s, 1), s.integer(8)}); });

    Statement rejections(db_, "SELECT day, reason, hits FROM daily_rejections "
                              "WHERE day BETWEEN ?1 AND ?2 AND hits != 0");
    rejections.bind(1, from).bind(2, to);
    eachRow(rejections, "reading the rejections",
            [&](const Statement& s)
            { r.rejections.push_back({static_cast<int32_t>(s.integer(0)), s.text(1), s.integer(2)}); });
    return r;
}

std::vector<std::string> SqliteStore::versions() const
{
    if (olderSchema_)
        return {};
    Statement s(db_, "SELECT DISTINCT version FROM rollup_keys WHERE scope = 2 ORDER BY version");
    std::vector<std::string> result;
    eachRow(s, "reading the versions", [&](const Statement& row) { result.push_back(row.text(0)); });
    return result;
}

std::vector<StoredHit> SqliteStore::rejectedSamples(const Period& period, int limit) const
{
    Statement s(db_, "SELECT id, received_us, path, body, reason, user_agent FROM hits "
                     "WHERE accepted = 0 AND day BETWEEN ? AND ? ORDER BY day DESC, id DESC LIMIT ?");
    s.bind(1, period.from).bind(2, period.to).bind(3, limit);
    std::vector<StoredHit> result;
    eachRow(s, "reading rejected hits",
            [&](const Statement& row)
            {
                StoredHit h;
                h.id = row.integer(0);
                h.receivedUs = row.integer(1);
                h.path = row.text(2);
                h.body = row.text(3);
                h.reason = row.text(4);
                h.userAgent = row.text(5);
                result.push_back(std::move(h));
            });
    return result;
}

Forgotten SqliteStore::forget(const std::string& cid)
{
    Forgotten gone;
    int64_t client = 0;
    findClient_->bind(1, cid);
    eachRow(*findClient_, "finding a client", [&](const Statement& s) { client = s.integer(0); });
    if (!client)
        return gone;
    // The hits are not indexed by client: an index that every hit adds to at a random place would cost
    // each commit a page per hit. So the client's hits are found by reading them all, before the write
    // lock is taken, while hits go on being stored; those that arrive meanwhile follow the last id read.
    int64_t lastRead = 0;
    std::vector<int64_t> ids;
    {
        Statement scan(db_, "SELECT id FROM hits WHERE client = ?");
        Statement last(db_, "SELECT coalesce(max(id), 0) FROM hits");
        exec("BEGIN");
        try
        {
            eachRow(last, "reading hits", [&](const Statement& s) { lastRead = s.integer(0); });
            scan.bind(1, client);
            eachRow(scan, "finding the client's hits", [&](const Statement& s) { ids.push_back(s.integer(0)); });
            exec("COMMIT");
        }
        catch (...)
        {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }
    transaction(
        [&]
        {
            Statement erasure(db_, "UPDATE erasures SET generation = generation + 1");
            erasure.run("recording the erasure");
            // Each hit removed is taken out of the counts as it was stored.
            auto uncount = [&](Statement& remove)
            {
                eachRow(remove, "removing the client's hits",
                        [&](const Statement& h)
                        {
                            ++gone.hits;
                            const std::string reason = h.text(4); // bound without a copy: must outlive the run
                            if (h.integer(2))
                                addCount_->bind(1, h.integer(0)).bind(2, h.integer(1)).bind(3, -1).bind(4, -h.integer(3));
                            else
                                addRejection_->bind(1, h.integer(0)).bind(2, reason).bind(3, -1);
                            (h.integer(2) ? *addCount_ : *addRejection_).run("uncounting a hit");
                        });
            };
            Statement removeOne(db_, "DELETE FROM hits WHERE id = ? AND client = ? "
                                     "RETURNING day, rollup_key, accepted, coalesce(value, 0), reason");
            for (const int64_t id : ids)
            {
                removeOne.bind(1, id).bind(2, client);
                uncount(removeOne);
            }
            Statement removeLater(db_, "DELETE FROM hits WHERE id > ? AND client = ? "
                                       "RETURNING day, rollup_key, accepted, coalesce(value, 0), reason");
            removeLater.bind(1, lastRead).bind(2, client);
            uncount(removeLater);

            // Each day the client was present under a key was counted against the day before it.
            Statement days(db_, "SELECT key, day FROM presence WHERE client = ? ORDER BY key, day");
            days.bind(1, client);
            std::vector<std::pair<int64_t, int32_t>> present;
            eachRow(days, "reading the client's days", [&](const Statement& s)
                    { present.emplace_back(s.integer(0), static_cast<int32_t>(s.integer(1))); });
            for (size_t i = 0; i < present.size(); ++i)
            {
                const auto [key, day] = present[i];
                const bool first = i == 0 || present[i - 1].first != key;
                addFirstVisit(day, first ? kNoDay : present[i - 1].second, key, -1);
            }
            Statement deletePresence(db_, "DELETE FROM presence WHERE client = ?");
            deletePresence.bind(1, client).run("removing the client's days");
            gone.daysPresent = sqlite3_changes(db_);
            Statement deleteClient(db_, "DELETE FROM clients WHERE id = ?");
            deleteClient.bind(1, client).run("removing the client");
        });
    return gone;
}

int64_t SqliteStore::pruneRawBefore(int32_t day)
{
    // In short transactions, so that hits arriving meanwhile wait for one of them at most.
    Statement prune(db_, "DELETE FROM hits WHERE id IN (SELECT id FROM hits WHERE day < ? LIMIT 10000)");
    int64_t removed = 0;
    for (int changed = 1; changed;)
    {
        transaction(
            [&]
            {
                prune.bind(1, day).run("pruning hits");
                changed = sqlite3_changes(db_);
            });
        removed += changed;
    }
    return removed;
}

} // namespace

int sqliteSchemaVersion()
{
    return static_cast<int>(sizeof kMigrations / sizeof kMigrations[0]);
}

std::unique_ptr<HitStore> openSqliteStore(const std::string& path, const StoreOptions& options)
{
    return std::make_unique<SqliteStore>(path, options);
}

} // namespace zncip::collector
