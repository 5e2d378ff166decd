// What the protocol requires of one hit: each rule, and the verdict that names every problem found.
#include "ingest/validation.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace zncip::collector
{
namespace
{

const char* const kHitTypes[] = {"pageview", "screenview", "event",     "transaction",
                                 "item",     "social",     "exception", "timing"};

// Maximum value lengths in bytes (after decoding) of the parameters the protocol limits.
const std::map<std::string, size_t, std::less<>>& lengthLimits()
{
    static const std::map<std::string, size_t, std::less<>> limits = {
        {"aid", 150}, {"aiid", 150}, {"an", 100},  {"av", 100},  {"cc", 500}, {"cd", 2048}, {"ci", 100},
        {"ck", 500},  {"cm", 50},    {"cn", 100},  {"cs", 100},  {"de", 20},  {"dh", 100},  {"dl", 2048},
        {"dp", 2048}, {"dr", 2048},  {"dt", 1500}, {"ea", 500},  {"ec", 150}, {"el", 500},  {"exd", 150},
        {"fl", 20},   {"ic", 500},   {"in", 500},  {"iv", 500},  {"sa", 50},  {"sd", 20},   {"sn", 50},
        {"sr", 20},   {"st", 2048},  {"ta", 500},  {"tcc", 500}, {"ti", 500}, {"ul", 20},   {"utc", 150},
        {"utl", 500}, {"utv", 500},  {"vp", 20},   {"xid", 40},
    };
    return limits;
}

const std::set<std::string, std::less<>>& integerParameters()
{
    static const std::set<std::string, std::less<>> names = {"ev",  "qt",  "utt", "iq",  "plt", "dns",
                                                             "pdt", "rrt", "tcp", "srt", "dit", "clt"};
    return names;
}

const std::set<std::string, std::less<>>& booleanParameters()
{
    static const std::set<std::string, std::less<>> names = {"ni", "aip", "exf", "je", "npa"};
    return names;
}

bool allDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Digits only, already checked; leading zeros allowed.
bool withinIntegerBound(std::string_view digits)
{
    const size_t first = std::min(digits.find_first_not_of('0'), digits.size());
    const std::string_view significant = digits.substr(first);
    const std::string bound = std::to_string(kMaxInteger);
    return significant.size() < bound.size() || (significant.size() == bound.size() && significant <= bound);
}

// "cd7" / "cm12": a custom dimension or metric with an index from 1 to 200.
bool isIndexed(std::string_view name, std::string_view prefix)
{
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix)
        return false;
    const std::string_view digits = name.substr(prefix.size());
    if (!allDigits(digits) || digits[0] == '0' || digits.size() > 3)
        return false;
    return std::stoi(std::string(digits)) <= 200;
}

bool isNumber(std::string_view s)
{
    if (!s.empty() && s[0] == '-')
        s.remove_prefix(1);
    const size_t dot = s.find('.');
    if (dot == std::string_view::npos)
        return allDigits(s);
    return allDigits(s.substr(0, dot)) && (dot + 1 == s.size() || allDigits(s.substr(dot + 1)));
}

bool isTrackingId(std::string_view s)
{
    if (s.size() < 6 || s.substr(0, 3) != "UA-")
        return false;
    s.remove_prefix(3);
    const size_t dash = s.find('-');
    return dash != std::string_view::npos && allDigits(s.substr(0, dash)) && allDigits(s.substr(dash + 1));
}

} // namespace

std::string Verdict::reason() const
{
    std::string out;
    for (const Problem& p : problems)
    {
        if (!out.empty())
            out += "; ";
        if (!p.parameter.empty())
            out += p.parameter + ": ";
        out += p.description;
    }
    return out;
}

Verdict validateHit(std::string_view body)
{
    return validateHit(body, decodeForm(body));
}

Verdict validateHit(std::string_view body, const DecodedForm& form)
{
    // A body of nothing but bad parameters would otherwise give a reason many times its own size.
    constexpr size_t kMaxProblems = 10, kMaxNameBytes = 64;
    Verdict verdict;
    size_t unlisted = 0;
    auto problem = [&](std::string parameter, std::string description)
    {
        if (verdict.problems.size() == kMaxProblems)
            ++unlisted;
        else if (parameter.size() > kMaxNameBytes)
            verdict.problems.push_back({parameter.substr(0, kMaxNameBytes) + "...", std::move(description)});
        else
            verdict.problems.push_back({std::move(parameter), std::move(description)});
    };

    if (body.size() > kMaxHitBytes)
        problem("", "the hit is " + std::to_string(body.size()) + " bytes, more than the " +
                        std::to_string(kMaxHitBytes) + " bytes allowed");
    if (form.badPercent)
        problem("", "a '%' is not followed by two hexadecimal digits");
    if (form.badUtf8)
        problem("", "a decoded name or value is not valid UTF-8");

    std::map<std::string_view, std::string_view> values;
    std::set<std::string_view> reportedTwice;
    for (const FormField& f : form.fields)
    {
        if (!values.emplace(f.name, f.value).second && reportedTwice.insert(f.name).second && !f.name.empty())
            problem(f.name, "the parameter appears more than once");
    }
    auto value = [&](std::string_view name) -> const std::string_view*
    {
        const auto it = values.find(name);
        return it == values.end() ? nullptr : &it->second;
    };
    auto require = [&](const char* name)
    {
        const std::string_view* v = value(name);
        if (!v || v->empty())
            problem(name, "a value is required");
        return v && !v->empty();
    };

    if (require("v") && *value("v") != "1")
        problem("v", "the protocol version must be 1");
    if (require("tid") && !isTrackingId(*value("tid")))
        problem("tid", "the tracking identifier must have the form UA-digits-digits");
    const std::string_view* cid = value("cid");
    const std::string_view* uid = value("uid");
    if ((!cid || cid->empty()) && (!uid || uid->empty()))
        problem("cid", "a client identifier (or a user identifier) is required");

    if (require("t"))
    {
        const std::string_view t = *value("t");
        const bool known =
            std::any_of(std::begin(kHitTypes), std::end(kHitTypes), [&](const char* k) { return t == k; });
        if (!known)
            problem("t", "the hit type is not one the protocol knows");
        else if (t == "event")
        {
            require("ec");
            require("ea");
        }
        else if (t == "screenview")
            require("cd");
        else if (t == "transaction")
            require("ti");
        else if (t == "item")
        {
            require("ti");
            require("in");
        }
        else if (t == "social")
        {
            require("sn");
            require("sa");
            require("st");
        }
        else if (t == "timing")
        {
            require("utc");
            require("utv");
            require("utt");
        }
    }

    for (const auto& [name, v] : values)
    {
        const std::string key(name);
        const auto limit = lengthLimits().find(name);
        size_t max = limit != lengthLimits().end() ? limit->second : 0;
        if (isIndexed(name, "cd"))
            max = 150;
        if (max && v.size() > max)
            problem(key, "the value is " + std::to_string(v.size()) + " bytes, more than the " +
                             std::to_string(max) + " bytes allowed");
        if (integerParameters().count(name) && !v.empty() && !allDigits(v))
            problem(key, "the value must be a non-negative integer");
        else if (integerParameters().count(name) && !v.empty() && !withinIntegerBound(v))
            problem(key, "the value must be at most " + std::to_string(kMaxInteger));
        if (booleanParameters().count(name) && v != "0" && v != "1")
            problem(key, "the value must be 0 or 1");
        if (name == "sc" && v != "start" && v != "end")
            problem(key, "the session control must be start or end");
        if (isIndexed(name, "cm") && !isNumber(v))
            problem(key, "the value must be a number");
    }
    if (unlisted)
        verdict.problems.push_back({"", "and " + std::to_string(unlisted) + " more problems"});
    return verdict;
}

} // namespace zncip::collector
