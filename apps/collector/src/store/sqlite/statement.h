// A prepared SQLite statement, kept for the life of its connection and run again and again, and eachRow,
// which reads its rows. A statement belongs to its connection's thread, like the connection.
#pragma once

#include "store/sqlite/connection.h"

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3_stmt;

namespace zncip::collector::sqlite
{

class Statement
{
public:
    // sql holds one statement (an SQL file's comments before it are fine); throws StoreError when it
    // cannot be prepared or holds more than one, whose rest SQLite would silently leave unrun.
    Statement(const Connection& db, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int i, int64_t v);
    // Text is bound without a copy, so it must outlive the statement's next run: a temporary may not.
    Statement& bind(int i, const std::string& v);
    Statement& bind(int i, std::string&& v) = delete;
    Statement& bindBlob(int i, const std::string& v);
    Statement& bindBlob(int i, std::string&& v) = delete;
    Statement& bindNull(int i);

    // Runs a statement that returns no rows; what names the work in the error.
    void run(const char* what);
    // Steps once: true with a row to read, false when done. Call reset() when finished.
    bool row(const char* what);
    void reset();

    int64_t integer(int i) const;
    bool isNull(int i) const;
    std::string text(int i) const; // a blob too, byte for byte

private:
    const Connection& db_;
    sqlite3_stmt* stmt_ = nullptr;
};

// Reads rows of a statement, resetting it however the reading ends.
template <typename Visit> void eachRow(Statement& s, const char* what, Visit visit)
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

} // namespace zncip::collector::sqlite
