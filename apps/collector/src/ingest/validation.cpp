// What the protocol requires of one hit: each rule, and the verdict that names every problem found.
#include "ingest/validation.h"

#include <algorithm>
#include <iterator>

namespace zncip::collector
{
namespace
{

const char* const kHitTypes[] = {"pageview", "screenview", "event",     "transaction",
                                 "item",     "social",     "exception", "timing"};

// What the protocol says of a parameter's value: its longest length in bytes after decoding (0: not
// limited), and whether it must be an integer or a flag.
struct Rule
{
    std::string_view name;
    size_t maxBytes;
    enum Kind
    {
        Text,
        Integer,
        Boolean
    } kind;
};

// Sorted by name, for a binary search per parameter of every hit.
constexpr Rule kRules[] = {
    {"aid", 150, Rule::Text},  {"aiid", 150, Rule::Text}, {"aip", 0, Rule::Boolean},
    {"an", 100, Rule::Text},   {"av", 100, Rule::Text},   {"cc", 500, Rule::Text},
    {"cd", 2048, Rule::Text},  {"ci", 100, Rule::Text},   {"ck", 500, Rule::Text},
    {"clt", 0, Rule::Integer}, {"cm", 50, Rule::Text},    {"cn", 100, Rule::Text},
    {"cs", 100, Rule::Text},   {"de", 20, Rule::Text},    {"dh", 100, Rule::Text},
    {"dit", 0, Rule::Integer}, {"dl", 2048, Rule::Text},  {"dns", 0, Rule::Integer},
    {"dp", 2048, Rule::Text},  {"dr", 2048, Rule::Text},  {"dt", 1500, Rule::Text},
    {"ea", 500, Rule::Text},   {"ec", 150, Rule::Text},   {"el", 500, Rule::Text},
    {"ev", 0, Rule::Integer},  {"exd", 150, Rule::Text},  {"exf", 0, Rule::Boolean},
    {"fl", 20, Rule::Text},    {"ic", 500, Rule::Text},   {"in", 500, Rule::Text},
    {"iq", 0, Rule::Integer},  {"iv", 500, Rule::Text},   {"je", 0, Rule::Boolean},
    {"ni", 0, Rule::Boolean},  {"npa", 0, Rule::Boolean}, {"pdt", 0, Rule::Integer},
    {"plt", 0, Rule::Integer}, {"qt", 0, Rule::Integer},  {"rrt", 0, Rule::Integer},
    {"sa", 50, Rule::Text},    {"sd", 20, Rule::Text},    {"sn", 50, Rule::Text},
    {"sr", 20, Rule::Text},    {"srt", 0, Rule::Integer}, {"st", 2048, Rule::Text},
    {"ta", 500, Rule::Text},   {"tcc", 500, Rule::Text},  {"tcp", 0, Rule::Integer},
    {"ti", 500, Rule::Text},   {"ul", 20, Rule::Text},    {"utc", 150, Rule::Text},
    {"utl", 500, Rule::Text},  {"utt", 0, Rule::Integer}, {"utv", 500, Rule::Text},
    {"vp", 20, Rule::Text},    {"xid", 40, Rule::Text},
};

constexpr bool sortedByName()
{
    for (size_t i = 1; i < std::size(kRules); ++i)
        if (!(kRules[i - 1].name < kRules[i].name))
            return false;
    return true;
}
static_assert(sortedByName(), "kRules is searched by name");

// Names mostly differ in their first byte: comparing it here spares a call to compare the rest.
bool nameLess(std::string_view a, std::string_view b)
{
    if (!a.empty() && !b.empty() && a[0] != b[0])
        return static_cast<unsigned char>(a[0]) < static_cast<unsigned char>(b[0]);
    return a < b;
}

const Rule* ruleOf(std::string_view name)
{
    const Rule* const end = std::end(kRules);
    const Rule* rule = std::lower_bound(
        std::begin(kRules), end, name, [](const Rule& r, std::string_view n) { return nameLess(r.name, n); });
    return rule != end && rule->name == name ? rule : nullptr;
}

// A hit's parameters sorted by name, each name once with the value it first came with. The names that
// came more than once are listed where their second occurrence stood, so that problems read in the
// order of the body.
struct Parameters
{
    struct Entry
    {
        std::string_view name, value;
        size_t position;
    };
    std::vector<Entry> sorted;
    std::vector<Entry> repeated;

    explicit Parameters(const DecodedForm& form)
    {
        sorted.reserve(form.fields.size());
        for (const FormField& f : form.fields)
            sorted.push_back({f.name, f.value, sorted.size()});
        std::sort(sorted.begin(), sorted.end(),
                  [](const Entry& a, const Entry& b)
                  { return nameLess(a.name, b.name) || (a.name == b.name && a.position < b.position); });
        size_t kept = 0, occurrences = 0; // of the name kept last
        for (const Entry& e : sorted)
        {
            if (kept > 0 && sorted[kept - 1].name == e.name)
            {
                if (++occurrences == 2)
                    repeated.push_back(e);
                continue;
            }
            sorted[kept++] = e;
            occurrences = 1;
        }
        sorted.resize(kept);
        std::sort(repeated.begin(), repeated.end(),
                  [](const Entry& a, const Entry& b) { return a.position < b.position; });
    }

    const std::string_view* find(std::string_view name) const
    {
        const auto it =
            std::lower_bound(sorted.begin(), sorted.end(), name,
                             [](const Entry& e, std::string_view n) { return nameLess(e.name, n); });
        return it != sorted.end() && it->name == name ? &it->value : nullptr;
    }
};

bool allDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Digits only, already checked; leading zeros allowed.
bool withinIntegerBound(std::string_view digits)
{
    const size_t first = std::min(digits.find_first_not_of('0'), digits.size());
    const std::string_view significant = digits.substr(first);
    constexpr std::string_view bound = "2147483647";
    static_assert(kMaxInteger == 2147483647, "bound is kMaxInteger written out");
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

    const Parameters values(form);
    for (const Parameters::Entry& again : values.repeated)
        if (!again.name.empty())
            problem(std::string(again.name), "the parameter appears more than once");
    auto value = [&](std::string_view name) { return values.find(name); };
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

    for (const Parameters::Entry& parameter : values.sorted)
    {
        const std::string_view name = parameter.name, v = parameter.value;
        const auto key = [&] { return std::string(name); };
        const Rule* rule = ruleOf(name);
        size_t max = rule ? rule->maxBytes : 0;
        if (isIndexed(name, "cd"))
            max = 150;
        if (max && v.size() > max)
            problem(key(), "the value is " + std::to_string(v.size()) + " bytes, more than the " +
                               std::to_string(max) + " bytes allowed");
        const Rule::Kind kind = rule ? rule->kind : Rule::Text;
        if (kind == Rule::Integer && !v.empty() && !allDigits(v))
            problem(key(), "the value must be a non-negative integer");
        else if (kind == Rule::Integer && !v.empty() && !withinIntegerBound(v))
            problem(key(), "the value must be at most " + std::to_string(kMaxInteger));
        if (kind == Rule::Boolean && v != "0" && v != "1")
            problem(key(), "the value must be 0 or 1");
        if (name == "sc" && v != "start" && v != "end")
            problem(key(), "the session control must be start or end");
        if (isIndexed(name, "cm") && !isNumber(v))
            problem(key(), "the value must be a number");
    }
    if (unlisted)
        verdict.problems.push_back({"", "and " + std::to_string(unlisted) + " more problems"});
    return verdict;
}

} // namespace zncip::collector
