// Building a Report from the rollups of a period: which events count in which table and figure.
#include "report/report.h"

#include "report/event_vocabulary.h"
#include "report/report_tables.h"

#include <algorithm>

namespace zncip::collector
{
namespace
{

using Scope = RollupKey::Scope;
using namespace vocabulary;

// The table of the report that counts an event, or null when none does.
Tally* tallyOf(Report& r, const RollupKey& k)
{
    if (k.type != kEventHit)
        return nullptr;
    const ReportTable* table = reportTableCounting(k.category, k.action);
    return table ? &(r.*table->tally) : nullptr;
}

void countSession(SessionCounts& s, const RollupKey& k, int64_t hits)
{
    if (k.type != kEventHit || k.category != kSession)
        return;
    const std::string& ea = k.action;
    const std::string& el = k.label;
    if (ea == kStart)
        s.started += hits;
    else if (ea == kEnd)
        s.ended += hits;
    else if (ea == kFinished)
        s.finished += hits;
    else if (ea == kGood)
        s.good += hits;
    else if (ea == kBad && el == kBad)
        s.bad += hits;
    else if (ea == kBad && el == kWithCrashReport)
        s.badWithCrashReport += hits;
    else if (ea == kBad && el == kWithoutCrashReport)
        s.badWithoutCrashReport += hits;
}

} // namespace

std::optional<double> SessionCounts::crashFreeRate() const
{
    if (good + bad == 0)
        return std::nullopt;
    return static_cast<double>(good) / static_cast<double>(good + bad);
}

Report buildReport(const Rollups& rollups, const Period& period)
{
    Report r;
    r.version = period.version;
    auto coverDay = [&](int32_t day)
    {
        r.from = r.from ? std::min(*r.from, day) : day;
        r.to = r.to ? std::max(*r.to, day) : day;
    };
    for (const Rollups::Count& c : rollups.counts)
    {
        coverDay(c.day);
        r.accepted += c.hits;
        r.applications[{c.key.application, c.key.version}].hits += c.hits;
        Report::Day& day = r.days[c.day];
        day.usage.hits += c.hits;
        Report::VersionDay& versionDay = day.versions[c.key.version];
        versionDay.usage.hits += c.hits;
        countSession(r.sessions, c.key, c.hits);
        countSession(day.sessions, c.key, c.hits);
        countSession(versionDay.sessions, c.key, c.hits);
        if (c.key.category == kSession)
            countSession(r.versions[c.key.version], c.key, c.hits);
        if (Tally* t = tallyOf(r, c.key))
            t->values[c.key.label].reports += c.hits;
    }
    // With a version chosen the rollups hold no count over all versions: the clients of that version
    // across applications stand for it.
    const Scope total = period.version ? Scope::Application : Scope::All;
    for (const Rollups::Clients& c : rollups.clients)
    {
        if (c.key.scope == Scope::Application)
            r.applications[{c.key.application, c.key.version}].clients += c.clients;
        if (c.key.scope == total)
            r.clients += c.clients;
        if (c.key.scope == Scope::Event || c.key.scope == Scope::EventAnyVersion)
            if (Tally* t = tallyOf(r, c.key))
                t->values[c.key.label].clients += c.clients;
        if (c.key.scope == Scope::Event && c.key.type == kEventHit && c.key.category == kSession &&
            c.key.action == kBad && c.key.label == kBad)
            r.badClients[c.key.version] += c.clients;
    }
    for (const Rollups::DailyClients& c : rollups.dailyClients)
    {
        Report::Day& day = r.days[c.day];
        if (c.key.scope == Scope::Application)
            day.versions[c.key.version].usage.clients += c.clients;
        if (c.key.scope == total)
            day.usage.clients += c.clients;
    }
    r.compared = rollups.comparedDaysOf(period);
    for (const Rollups::ActiveClients& a : rollups.activeClients)
        r.activeClients[{a.span, a.start}] += a.clients;
    for (const Rollups::Rejections& j : rollups.rejections)
    {
        coverDay(j.day);
        r.rejected += j.hits;
        r.rejectionReasons[j.reason] += j.hits;
    }
    return r;
}

} // namespace zncip::collector
