// The writer's memory of ids, kept within a byte budget and to one generation of erasures.
#include "store/postgres/known_ids.h"

namespace zncip::collector::postgres
{

int64_t KnownIds::id(Text kind, const std::string& text) const
{
    const auto it = texts_[kind].find(text);
    return it == texts_[kind].end() ? 0 : it->second;
}

const KnownIds::Keys* KnownIds::keys(const std::string& keyFields) const
{
    const auto it = keys_.find(keyFields);
    return it == keys_.end() ? nullptr : &it->second;
}

void KnownIds::holdUnder(int64_t generation)
{
    if (generation != generation_)
        clear();
    generation_ = generation;
}

bool KnownIds::makeRoom(size_t bytes)
{
    if (bytes_ + bytes > budget_)
        clear();
    if (bytes > budget_)
        return false;
    bytes_ += bytes;
    return true;
}

void KnownIds::remember(Text kind, const std::string& text, int64_t id)
{
    if (id > 0 && !texts_[kind].count(text) && makeRoom(text.size() + kEntryOverhead))
        texts_[kind].emplace(text, id);
}

void KnownIds::remember(const std::string& keyFields, const Keys& ids)
{
    for (int64_t id : ids)
        if (id <= 0)
            return;
    if (!keys_.count(keyFields) && makeRoom(keyFields.size() + sizeof(Keys) + kEntryOverhead))
        keys_.emplace(keyFields, ids);
}

void KnownIds::clear()
{
    for (auto& texts : texts_)
        texts.clear();
    keys_.clear();
    bytes_ = 0;
}

} // namespace zncip::collector::postgres
