// From the bytes a request brought to the records the store keeps.
#include "ingest/hit_parser.h"

#include "ingest/form.h"
#include "ingest/hit_facts.h"
#include "ingest/validation.h"

namespace zncip::collector
{

HitRecord parseHit(std::string body, std::string_view path, std::string_view userAgent, int64_t receivedUs)
{
    HitRecord hit;
    hit.receivedUs = receivedUs;
    hit.path = path;
    const DecodedForm form = decodeForm(body);
    const Verdict verdict = validateHit(body, form);
    hit.facts = decodeFacts(receivedUs, form);
    hit.accepted = verdict.valid();
    hit.reason = verdict.reason();
    if (body.size() > kMaxHitBytes)
    {
        body.resize(kMaxHitBytes);
        hit.reason += "; only its first " + std::to_string(kMaxHitBytes) + " bytes are kept";
    }
    hit.body = std::move(body);
    hit.userAgent = userAgent;
    return hit;
}

std::optional<std::vector<std::string>> splitBatch(std::string_view body)
{
    if (body.size() > kMaxBatchBytes)
        return std::nullopt;
    std::vector<std::string> lines;
    for (size_t start = 0; start < body.size();)
    {
        size_t end = body.find('\n', start);
        if (end == std::string_view::npos)
            end = body.size();
        std::string_view line = body.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() > kMaxHitBytes)
            return std::nullopt;
        if (!line.empty())
            lines.emplace_back(line);
        start = end + 1;
    }
    if (lines.size() > kMaxBatchHits)
        return std::nullopt;
    return lines;
}

} // namespace zncip::collector
