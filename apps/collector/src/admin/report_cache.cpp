// The admin listener's last report per reader (see report_cache.h).
#include "admin/report_cache.h"

#include "admin/static_files.h"

namespace zncip::collector
{
namespace
{

// The report's JSON is compressed once per build and sent many times: a fast level is enough.
constexpr int kJsonLevel = 6;

bool samePeriod(const Period& a, const Period& b)
{
    return a.from == b.from && a.to == b.to && a.version == b.version;
}

} // namespace

const std::string& ReportCache::Built::json()
{
    if (!json_)
        json_ = reportJson(report);
    return *json_;
}

const std::string& ReportCache::Built::gzipJson()
{
    if (!gzip_)
        gzip_ = gzipped(json(), kJsonLevel);
    return *gzip_;
}

std::shared_ptr<ReportCache::Built> ReportCache::reportOf(const HitReader& reader, const Period& period)
{
    // Read before the rollups, so that a commit in between makes the entry older than its data, never
    // newer: the next request builds again.
    const std::optional<int64_t> version = reader.dataVersion();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto e = entries_.find(&reader);
        if (version && e != entries_.end() && e->second.dataVersion == *version &&
            samePeriod(e->second.period, period))
            return e->second.built;
    }
    auto built = std::make_shared<Built>(buildReport(reader.rollups(period), period));
    if (version)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_[&reader] = {*version, period, built};
    }
    return built;
}

} // namespace zncip::collector
