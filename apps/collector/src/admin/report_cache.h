// The last report the admin listener built over each of its readers, kept while the period asked for and
// the data that reader sees stay the same: a page's views and its tables' CSVs then cost one build
// instead of one each. The request threads call it with the reader they hold on lease, so that an entry
// is only ever used by one thread at a time.
#pragma once

#include "report/report.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace zncip::collector
{

class ReportCache
{
public:
    // A report with its JSON, and the JSON gzip-compressed, each made when first asked for.
    class Built
    {
    public:
        explicit Built(Report r) : report(std::move(r)) {}
        const Report report;
        const std::string& json();
        const std::string& gzipJson();

    private:
        std::optional<std::string> json_, gzip_;
    };

    // The report of the period as the reader sees it now: the one built last over this reader when neither
    // the period nor the data changed since, else a new one (never kept when the store cannot tell).
    std::shared_ptr<Built> reportOf(const HitReader& reader, const Period& period);

private:
    struct Entry
    {
        int64_t dataVersion = 0;
        Period period;
        std::shared_ptr<Built> built;
    };
    std::mutex mutex_;
    std::map<const HitReader*, Entry> entries_;
};

} // namespace zncip::collector
