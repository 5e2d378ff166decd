// Opening, closing and plain statements of one SQLite database file.

#include "store/sqlite/connection.h"

#include "store/sqlite/statement.h"

#include <sqlite3.h>

namespace zncip::collector::sqlite
{

Connection::Connection(const std::string& path, const StoreOptions& options) : path_(path)
{
    const int flags = options.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
    {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw StoreError("cannot open database " + path + ": " + message);
    }
    sqlite3_busy_timeout(db_, options.busyTimeoutMs);
}

Connection::~Connection()
{
    sqlite3_close(db_);
}

void Connection::exec(const char* sql) const
{
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK)
    {
        const std::string message = error ? error : sqlite3_errmsg(db_);
        sqlite3_free(error);
        throw StoreError("database " + path_ + ": " + message);
    }
}

std::string Connection::queryText(const char* sql) const
{
    Statement s(*this, sql);
    std::string result;
    eachRow(s, ("database " + path_).c_str(), [&](const Statement& row) { result = row.text(0); });
    return result;
}

void Connection::rollback() const noexcept
{
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

int Connection::changes() const
{
    return sqlite3_changes(db_);
}

int64_t Connection::lastInsertId() const
{
    return sqlite3_last_insert_rowid(db_);
}

} // namespace zncip::collector::sqlite
