// The ids of texts a writer has looked up (client ids, rollup keys), remembered so that most hits need
// no query. Bounded by the bytes it holds rather than by entries, because clients choose how long the
// texts are: when the next entry would go over, it starts again empty. One thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

namespace zncip::collector::sqlite
{

class IdCache
{
public:
    // What an entry costs beyond its text: the map's node and bucket, the string and its allocation.
    static constexpr size_t kEntryOverhead = 96;

    explicit IdCache(size_t budgetBytes) : budget_(budgetBytes) {}

    std::optional<int64_t> find(const std::string& text) const
    {
        const auto it = ids_.find(text);
        return it == ids_.end() ? std::nullopt : std::optional(it->second);
    }
    // A text bigger than the whole budget is not kept.
    void add(std::string text, int64_t id)
    {
        const size_t cost = text.size() + kEntryOverhead;
        if (cost > budget_)
            return;
        if (bytes_ + cost > budget_)
            clear();
        if (ids_.emplace(std::move(text), id).second)
            bytes_ += cost;
    }
    void clear()
    {
        ids_.clear();
        bytes_ = 0;
    }
    size_t bytes() const { return bytes_; } // as counted against the budget
    size_t size() const { return ids_.size(); }

private:
    std::unordered_map<std::string, int64_t> ids_;
    size_t budget_;
    size_t bytes_ = 0;
};

} // namespace zncip::collector::sqlite
