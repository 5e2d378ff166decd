// The ids of the texts a table keeps once each, as (id, text UNIQUE): client ids, user agents, rejection
// reasons. Remembers the ids it looked up, within a budget of bytes, so that most hits need no query.
// Belongs to one writing connection and its thread.
#pragma once

#include "store/sqlite/id_cache.h"
#include "store/sqlite/statement.h"

#include <string>

namespace zncip::collector::sqlite
{

class TextIds
{
public:
    // table and column name the table and its text column; the schema must hold them.
    TextIds(const Connection& db, const std::string& table, const std::string& column, size_t budgetBytes)
        : db_(db), find_(db, "SELECT id FROM " + table + " WHERE " + column + " = ?"),
          add_(db, "INSERT INTO " + table + " (" + column + ") VALUES (?)"),
          text_(db, "SELECT " + column + " FROM " + table + " WHERE id = ?"), cache_(budgetBytes)
    {
    }

    // The id of a text; 0 when the table does not hold it.
    int64_t known(const std::string& text)
    {
        int64_t id = 0;
        find_.bind(1, text);
        eachRow(find_, "finding an id", [&](const Statement& s) { id = s.integer(0); });
        return id;
    }
    // The id of a text, added when new.
    int64_t idOf(const std::string& text)
    {
        if (const auto cached = cache_.find(text))
            return *cached;
        int64_t id = known(text);
        if (!id)
        {
            add_.bind(1, text).run("adding a text");
            id = db_.lastInsertId();
        }
        cache_.add(text, id);
        return id;
    }
    // The text of an id ("" when unknown).
    std::string textOf(int64_t id)
    {
        std::string text;
        text_.bind(1, id);
        eachRow(text_, "reading a text", [&](const Statement& s) { text = s.text(0); });
        return text;
    }
    // After a rollback or an erasure: ids remembered may be gone.
    void forget() { cache_.clear(); }

private:
    const Connection& db_;
    Statement find_, add_, text_;
    IdCache cache_;
};

} // namespace zncip::collector::sqlite
