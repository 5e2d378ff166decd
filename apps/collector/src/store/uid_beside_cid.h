// The second client a hit names: its uid when it also carries a cid, which is then its client. The stores
// record it beside the hit, so that forgetting that uid forgets the client of the cid too. Header only;
// a pure function of the hit, any thread.
#pragma once

#include "ingest/form.h"
#include "store/records.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace zncip::collector
{

namespace uid_beside_cid_detail
{
// Whether a parameter of the body may decode to the name uid: spelled so, or with an escape in its name.
// Most hits have neither, and are then not decoded a second time.
inline bool mayNameUid(std::string_view body)
{
    for (size_t start = 0; start <= body.size();)
    {
        const size_t end = std::min(body.find('&', start), body.size());
        const std::string_view piece = body.substr(start, end - start);
        const std::string_view name = piece.substr(0, piece.find('='));
        if (name == "uid" || name.find('%') != std::string_view::npos)
            return true;
        start = end + 1;
    }
    return false;
}
} // namespace uid_beside_cid_detail

// The hit's uid when it differs from its client (so a cid is its client); empty otherwise. The first
// non-empty uid counts, as in decodeFacts().
inline std::string uidBesideCid(const HitRecord& hit, const HitFacts& facts)
{
    if (facts.client.empty() || !uid_beside_cid_detail::mayNameUid(hit.body))
        return {};
    for (const FormField& f : decodeForm(hit.body).fields)
        if (f.name == "uid" && !f.value.empty())
            return f.value == facts.client ? std::string() : f.value;
    return {};
}

} // namespace zncip::collector
