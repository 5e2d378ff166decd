// One open SQLite database file, closed with the object. It is opened without SQLite's own locking, so
// one thread at a time may use it and the statements prepared on it.
#pragma once

#include "store/hit_store.h"

#include <string>

struct sqlite3;

namespace zncip::collector::sqlite
{

class Connection
{
public:
    // Opens (creating it unless read-only) the file; throws StoreError saying why it cannot.
    Connection(const std::string& path, const StoreOptions& options);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* get() const { return db_; }
    const std::string& path() const { return path_; }

    // Runs statements that return no rows; throws StoreError naming the file.
    void exec(const char* sql) const;
    // The first column of the last row of one statement ("" when none), as text.
    std::string queryText(const char* sql) const;
    // Ends the open transaction, if any, after a failure.
    void rollback() const noexcept;
    // Rows the last statement changed, and the id the last insert gave.
    int changes() const;
    int64_t lastInsertId() const;

private:
    std::string path_;
    sqlite3* db_ = nullptr;
};

} // namespace zncip::collector::sqlite
