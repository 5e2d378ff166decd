// The self-contained HTML report (`report --html`) and the JSON of versions and rejected samples that
// the dashboard reads beside the report.
#pragma once

#include "store/hit_store.h"
#include "report/report.h"

#include <string>
#include <vector>

namespace zncip::collector
{

// The dashboard as one self-contained HTML file: its style, scripts and this report's data inside, so
// that it opens anywhere without the collector and without a network.
std::string htmlReport(const Report& report, const std::vector<std::string>& versions,
                       const std::vector<StoredHit>& rejectedSamples);

// The JSON the dashboard reads for these: {"samples":[{"received","reason","body"},...]}.
std::string samplesJson(const std::vector<StoredHit>& samples);
std::string versionsJson(const std::vector<std::string>& versions);

} // namespace zncip::collector
