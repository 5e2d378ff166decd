// What a writer remembers of the (client, day, key) it has stored, so that hits which bring none new skip
// the client, key and presence work in the database. Owned by one store and used under its mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace zncip::collector::postgres
{

class PresenceCache
{
public:
    // Bounded by the memory its entries take, not their number: a cid may be several kilobytes long.
    static constexpr size_t kDefaultBudget = size_t{64} << 20;
    explicit PresenceCache(size_t budgetBytes = kDefaultBudget) : budget_(budgetBytes) {}

    // A hit's six key fields as one text, each after a NUL: what KnownIds knows a hit's keys by, and the
    // tail of its presence entry.
    static std::string keyText(const std::string* const (&keyFields)[6]);
    // A client's presence on a day under the keys of a hit (their keyText), as one entry.
    static std::string entry(const std::string& client, int32_t day, const std::string& keyText);

    bool known(const std::string& entry) const { return entries_.count(entry) > 0; }
    // The generation of the database's erasures the entries hold under; -1 before the first batch.
    int64_t generation() const { return generation_; }
    // A batch stored under the given generation brought these entries. What was remembered under another
    // generation (a client was forgotten since) is dropped, as is everything once the budget would be
    // exceeded: starting again costs one batch's work per client, keeping a bound costs nothing.
    void stored(int64_t generation, std::vector<std::string>&& added);
    void clear();

    size_t bytes() const { return bytes_; }
    size_t size() const { return entries_.size(); }

private:
    // An entry's share of memory: its bytes, the set's node and bucket, and the string's own allocation.
    static size_t cost(const std::string& entry) { return entry.size() + kEntryOverhead; }
    static constexpr size_t kEntryOverhead = 96;

    size_t budget_;
    std::unordered_set<std::string> entries_;
    size_t bytes_ = 0;
    int64_t generation_ = -1;
};

} // namespace zncip::collector::postgres
