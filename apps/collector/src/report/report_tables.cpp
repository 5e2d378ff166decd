// The one list of the report's tables of values, and the order of their rows.
#include "report/report_tables.h"

#include "report/event_vocabulary.h"

#include <algorithm>

namespace zncip::collector
{

using namespace vocabulary;

const std::vector<ReportTable>& reportTables()
{
    static const std::vector<ReportTable> tables = {
        {"commands", "Commands", kCommands, {}, &Report::commands},
        {"unknown_commands", "Unknown commands", kUnknownCommands, {}, &Report::unknownCommands},
        {"operating_systems", "Operating systems", kSystem, kOperatingSystem, &Report::operatingSystems},
        {"memory_mib", "Physical memory (MiB)", kSystem, kMemory, &Report::memory},
        {"screen_scaling_percent", "Screen scaling (%)", kSystem, kScaling, &Report::scaling},
        {"processor_threads", "Processor threads", kSystem, kThreadCount, &Report::threads},
        {"screens", "Screens", kSystem, kScreenCount, &Report::screenCounts},
        {"screen_resolutions", "Screen resolutions", kScreen, kResolution, &Report::resolutions},
        {"opengl_renderers_core", "OpenGL renderers (core profile)", kOpenGL, kRendererCore,
         &Report::rendererCore},
        {"opengl_versions_core", "OpenGL vendor:version (core profile)", kOpenGL, kVersionCore,
         &Report::versionCore},
        {"opengl_renderers_compatibility", "OpenGL renderers (compatibility profile)", kOpenGL,
         kRendererCompatibility, &Report::rendererCompatibility},
        {"opengl_versions_compatibility", "OpenGL vendor:version (compatibility profile)", kOpenGL,
         kVersionCompatibility, &Report::versionCompatibility}};
    return tables;
}

const ReportTable* reportTableNamed(std::string_view name)
{
    for (const ReportTable& t : reportTables())
        if (t.name == name)
            return &t;
    return nullptr;
}

const ReportTable* reportTableCounting(std::string_view category, std::string_view action)
{
    for (const ReportTable& t : reportTables())
        if (t.category == category && (t.action.empty() || t.action == action))
            return &t;
    return nullptr;
}

std::vector<std::pair<std::string, Tally::Entry>> sortedRows(const Tally& tally)
{
    std::vector<std::pair<std::string, Tally::Entry>> rows(tally.values.begin(), tally.values.end());
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.second.reports > b.second.reports; });
    return rows;
}

} // namespace zncip::collector
