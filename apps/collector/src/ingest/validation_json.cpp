// The answer of /debug/collect: the validator's verdict on one hit, as the protocol's validation
// endpoint gives it, so that a developer can check a hit without storing it.
#include "ingest/validation_json.h"

#include "ingest/validation.h"
#include "text/json.h"

namespace zncip::collector
{

std::string verdictJson(const std::string& body)
{
    const Verdict verdict = validateHit(body);
    std::string json = "{\"hitParsingResult\":[{\"valid\":";
    json += verdict.valid() ? "true" : "false";
    json += ",\"parserMessage\":[";
    for (size_t i = 0; i < verdict.problems.size(); ++i)
    {
        const Problem& p = verdict.problems[i];
        json += i ? ",{" : "{";
        json += "\"messageType\":\"ERROR\",\"description\":";
        appendJsonString(json, p.description);
        if (!p.parameter.empty())
        {
            json += ",\"parameter\":";
            appendJsonString(json, p.parameter);
        }
        json += "}";
    }
    json += "],\"hit\":";
    appendJsonString(json, "/debug/collect?" + body);
    json += "}],\"parserMessage\":[{\"messageType\":\"INFO\",\"description\":\"Found 1 hit in the "
            "request.\"}]}";
    return json;
}

} // namespace zncip::collector
