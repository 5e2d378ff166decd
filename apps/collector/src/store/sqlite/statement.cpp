// Preparing, binding, stepping and reading one SQLite statement.

#include "store/sqlite/statement.h"

#include <sqlite3.h>

#include <cctype>

namespace zncip::collector::sqlite
{

Statement::Statement(const Connection& db, std::string_view sql) : db_(db)
{
    const char* tail = nullptr;
    if (sqlite3_prepare_v3(db.get(), sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                           &stmt_, &tail) != SQLITE_OK)
        throw StoreError(std::string("cannot prepare statement: ") + sqlite3_errmsg(db.get()));
    if (!stmt_)
        throw StoreError("cannot prepare statement: none in " + std::string(sql));
    for (const char* end = sql.data() + sql.size(); tail && tail < end && *tail; ++tail)
        if (!std::isspace(static_cast<unsigned char>(*tail)))
        {
            sqlite3_finalize(stmt_);
            throw StoreError("cannot prepare statement: more than one in " + std::string(sql));
        }
}

Statement::~Statement()
{
    sqlite3_finalize(stmt_);
}

Statement& Statement::bind(int i, int64_t v)
{
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
}

Statement& Statement::bind(int i, const std::string& v)
{
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
    return *this;
}

Statement& Statement::bindBlob(int i, const std::string& v)
{
    sqlite3_bind_blob(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
    return *this;
}

Statement& Statement::bindNull(int i)
{
    sqlite3_bind_null(stmt_, i);
    return *this;
}

void Statement::run(const char* what)
{
    const int rc = sqlite3_step(stmt_);
    reset();
    if (rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw StoreError(std::string(what) + " failed: " + sqlite3_errstr(rc));
}

bool Statement::row(const char* what)
{
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
    {
        const std::string message = sqlite3_errmsg(db_.get());
        reset();
        throw StoreError(std::string(what) + " failed: " + message);
    }
    return false;
}

void Statement::reset()
{
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

int64_t Statement::integer(int i) const
{
    return sqlite3_column_int64(stmt_, i);
}

bool Statement::isNull(int i) const
{
    return sqlite3_column_type(stmt_, i) == SQLITE_NULL;
}

std::string Statement::text(int i) const
{
    const void* data = sqlite3_column_blob(stmt_, i);
    const int size = sqlite3_column_bytes(stmt_, i);
    return data ? std::string(static_cast<const char*>(data), static_cast<size_t>(size)) : std::string();
}

} // namespace zncip::collector::sqlite
