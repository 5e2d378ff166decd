#include "hit_store.h"

#include <sqlite3.h>

#include <sys/stat.h>

namespace zncip::collector
{
namespace
{

// Each step moves the schema from version i to i + 1; a step is never edited once released, new needs
// get a new step.
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
};

class Statement
{
public:
    Statement(sqlite3* db, const char* sql)
    {
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) != SQLITE_OK)
            throw StoreError(std::string("cannot prepare statement: ") + sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

class SqliteStore : public HitStore
{
public:
    SqliteStore(const std::string& path, const SqliteOptions& options) : path_(path)
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
            }
            struct stat file;
            if (stat(path.c_str(), &file) == 0)
                file_ = {file.st_dev, file.st_ino};
            insert_ = std::make_unique<Statement>(
                db_, "INSERT INTO hits (received_us, path, body, accepted, reason, user_agent) "
                     "VALUES (?, ?, ?, ?, ?, ?)");
            begin_ = std::make_unique<Statement>(db_, "BEGIN IMMEDIATE");
            commit_ = std::make_unique<Statement>(db_, "COMMIT");
        }
        catch (...)
        {
            insert_.reset();
            begin_.reset();
            commit_.reset();
            sqlite3_close(db_);
            throw;
        }
    }

    ~SqliteStore() override
    {
        insert_.reset();
        begin_.reset();
        commit_.reset();
        sqlite3_close(db_);
    }

    void append(const std::vector<HitRecord>& hits) override
    {
        // SQLite goes on writing to a file that was deleted or replaced, and what it writes there is lost.
        struct stat file;
        if (stat(path_.c_str(), &file) != 0 || std::make_pair(file.st_dev, file.st_ino) != file_)
            throw StoreError("database " + path_ + " was deleted or replaced; restart the collector");
        step(*begin_, "begin");
        try
        {
            for (const HitRecord& h : hits)
            {
                sqlite3_stmt* s = insert_->get();
                sqlite3_bind_int64(s, 1, h.receivedUs);
                sqlite3_bind_text(s, 2, h.path.data(), static_cast<int>(h.path.size()), SQLITE_STATIC);
                sqlite3_bind_blob(s, 3, h.body.data(), static_cast<int>(h.body.size()), SQLITE_STATIC);
                sqlite3_bind_int(s, 4, h.accepted ? 1 : 0);
                sqlite3_bind_text(s, 5, h.reason.data(), static_cast<int>(h.reason.size()), SQLITE_STATIC);
                sqlite3_bind_text(s, 6, h.userAgent.data(), static_cast<int>(h.userAgent.size()),
                                  SQLITE_STATIC);
                step(*insert_, "insert");
            }
            step(*commit_, "commit");
        }
        catch (...)
        {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    void forEach(const std::function<void(const StoredHit&)>& visit) const override
    {
        Statement select(db_, "SELECT id, received_us, path, body, accepted, reason, user_agent "
                              "FROM hits ORDER BY id");
        StoredHit hit;
        int rc;
        while ((rc = sqlite3_step(select.get())) == SQLITE_ROW)
        {
            sqlite3_stmt* s = select.get();
            hit.id = sqlite3_column_int64(s, 0);
            hit.receivedUs = sqlite3_column_int64(s, 1);
            hit.path = column(s, 2);
            hit.body = column(s, 3);
            hit.accepted = sqlite3_column_int(s, 4) != 0;
            hit.reason = column(s, 5);
            hit.userAgent = column(s, 6);
            visit(hit);
        }
        if (rc != SQLITE_DONE)
            throw StoreError(std::string("cannot read hits: ") + sqlite3_errmsg(db_));
    }

    int64_t count() const override
    {
        Statement s(db_, "SELECT count(*) FROM hits");
        if (sqlite3_step(s.get()) != SQLITE_ROW)
            throw StoreError(std::string("cannot count hits: ") + sqlite3_errmsg(db_));
        return sqlite3_column_int64(s.get(), 0);
    }

private:
    static std::string column(sqlite3_stmt* s, int i)
    {
        const void* data = sqlite3_column_blob(s, i);
        const int size = sqlite3_column_bytes(s, i);
        return data ? std::string(static_cast<const char*>(data), static_cast<size_t>(size)) : std::string();
    }

    void step(const Statement& s, const char* what)
    {
        const int rc = sqlite3_step(s.get());
        sqlite3_reset(s.get());
        sqlite3_clear_bindings(s.get());
        if (rc != SQLITE_DONE)
            throw StoreError(std::string(what) + " failed on " + path_ + ": " + sqlite3_errstr(rc));
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
        const int rc = sqlite3_step(s.get());
        if (rc != SQLITE_ROW)
            throw StoreError("database " + path_ + ": " + sqlite3_errmsg(db_));
        const unsigned char* text = sqlite3_column_text(s.get(), 0);
        return text ? reinterpret_cast<const char*>(text) : "";
    }

    int currentVersion()
    {
        Statement exists(
            db_, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'schema_version'");
        if (sqlite3_step(exists.get()) != SQLITE_ROW)
            throw StoreError("cannot read database " + path_ + ": " + sqlite3_errmsg(db_));
        if (sqlite3_column_int(exists.get(), 0) == 0)
            return 0;
        Statement version(db_, "SELECT max(version) FROM schema_version");
        if (sqlite3_step(version.get()) != SQLITE_ROW)
            throw StoreError("cannot read schema version of " + path_ + ": " + sqlite3_errmsg(db_));
        return sqlite3_column_int(version.get(), 0);
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
                Statement record(db_, "INSERT INTO schema_version VALUES "
                                      "(?, CAST((julianday('now') - 2440587.5) * 86400000000 AS INTEGER))");
                sqlite3_bind_int(record.get(), 1, v + 1);
                step(record, "recording the schema version");
            }
            exec("COMMIT");
        }
        catch (...)
        {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    std::string path_;
    std::pair<dev_t, ino_t> file_{};
    sqlite3* db_ = nullptr;
    std::unique_ptr<Statement> insert_, begin_, commit_;
};

} // namespace

int sqliteSchemaVersion()
{
    return static_cast<int>(sizeof kMigrations / sizeof kMigrations[0]);
}

std::unique_ptr<HitStore> openSqliteStore(const std::string& path, const SqliteOptions& options)
{
    return std::make_unique<SqliteStore>(path, options);
}

} // namespace zncip::collector
