// The facts every report needs of a hit, read once from its decoded form.
#include "ingest/hit_facts.h"

#include "ingest/form.h"
#include "ingest/validation.h"
#include "text/days.h"

#include <cstdio>
#include <string_view>
#include <tuple>

namespace zncip::collector
{
namespace
{

// A value is counted only within the bound validation holds hits to; a rejected hit is not counted anyway.
bool parseInteger(const std::string& text, int64_t& value)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoll(text);
    return value <= kMaxInteger;
}

} // namespace

HitFacts decodeFacts(const HitRecord& hit)
{
    return hit.facts ? *hit.facts : decodeFacts(hit.receivedUs, decodeForm(hit.body));
}

HitFacts decodeFacts(int64_t receivedUs, const DecodedForm& form)
{
    HitFacts facts;
    facts.day = dayOf(receivedUs);
    std::string cid, uid, ev;
    using namespace std::string_view_literals;
    for (const FormField& f : form.fields)
    {
        // The first occurrence counts; a hit with a parameter twice is rejected anyway.
        const std::string_view name = f.name;
        std::string* target = name == "cid"sv   ? &cid
                              : name == "uid"sv ? &uid
                              : name == "t"sv   ? &facts.type
                              : name == "an"sv  ? &facts.application
                              : name == "av"sv  ? &facts.version
                              : name == "ec"sv  ? &facts.category
                              : name == "ea"sv  ? &facts.action
                              : name == "el"sv  ? &facts.label
                              : name == "ev"sv  ? &ev
                                                : nullptr;
        if (target && target->empty())
            *target = f.value;
    }
    facts.client = cid.empty() ? uid : cid;
    facts.uidBesideCid = cid.empty() || uid == cid ? std::string() : uid;
    int64_t value = 0;
    if (parseInteger(ev, value))
        facts.value = value;
    return facts;
}

} // namespace zncip::collector
