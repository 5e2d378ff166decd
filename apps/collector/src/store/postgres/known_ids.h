// What a writer remembers of the ids the database gave the clients, agents, reasons and rollup keys it has
// stored, so that its batches name them by id and skip their upserts and lookups. Valid under one
// generation of the database's erasures: forgetting a client may delete any of them. Owned by one store
// and used under its mutex.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace zncip::collector::postgres
{

class KnownIds
{
public:
    // The texts a hit names by id; a uid is a client's cid.
    enum Text
    {
        kClient,
        kAgent,
        kReason,
        kTexts
    };
    // The ids of a hit's rollup keys of scopes 0 to 3.
    using Keys = std::array<int64_t, 4>;

    // Bounded by the memory its entries take, as PresenceCache is.
    static constexpr size_t kDefaultBudget = size_t{32} << 20;
    explicit KnownIds(size_t budgetBytes = kDefaultBudget) : budget_(budgetBytes) {}

    // 0 when unknown: the database's ids start at 1.
    int64_t id(Text kind, const std::string& text) const;
    // Nullptr when unknown; keyFields are a hit's six key fields as PresenceCache::keyText joins them.
    const Keys* keys(const std::string& keyFields) const;

    // The generation of erasures the ids hold under; -1 before the first batch.
    int64_t generation() const { return generation_; }
    // Ids learned under the given generation are to follow: what was remembered under another is dropped.
    void holdUnder(int64_t generation);
    void remember(Text kind, const std::string& text, int64_t id);
    void remember(const std::string& keyFields, const Keys& ids);
    void clear();

private:
    // Everything is dropped once the budget would be exceeded: starting again costs a batch's lookups.
    bool makeRoom(size_t bytes);
    static constexpr size_t kEntryOverhead = 96;

    size_t budget_;
    std::unordered_map<std::string, int64_t> texts_[kTexts];
    std::unordered_map<std::string, Keys> keys_;
    size_t bytes_ = 0;
    int64_t generation_ = -1;
};

} // namespace zncip::collector::postgres
