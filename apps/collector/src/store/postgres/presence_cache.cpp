// The writer's memory of presence, kept within a byte budget.
#include "store/postgres/presence_cache.h"

namespace zncip::collector::postgres
{

std::string PresenceCache::keyText(const std::string* const (&keyFields)[6])
{
    std::string text;
    for (const std::string* field : keyFields)
        (text += '\0') += *field;
    return text;
}

std::string PresenceCache::entry(const std::string& client, int32_t day, const std::string& keyText)
{
    return client + '\0' + std::to_string(day) + keyText;
}

void PresenceCache::stored(int64_t generation, std::vector<std::string>&& added)
{
    size_t addedBytes = 0;
    for (const std::string& e : added)
        if (!known(e))
            addedBytes += cost(e);
    if (generation != generation_ || bytes_ + addedBytes > budget_)
        clear();
    generation_ = generation;
    for (std::string& e : added)
    {
        if (bytes_ + cost(e) > budget_)
            break;
        const size_t c = cost(e);
        if (entries_.insert(std::move(e)).second)
            bytes_ += c;
    }
}

void PresenceCache::clear()
{
    entries_.clear();
    bytes_ = 0;
}

} // namespace zncip::collector::postgres
