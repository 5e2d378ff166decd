// The report's tables of values (commands, machine facts) in the one list that the text report, the JSON,
// the CSV API and the pages follow: each table's name (its JSON key and CSV API name), its title (the
// heading in the text report and on the pages) and the events whose labels are its rows.
#pragma once

#include "report/report.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zncip::collector
{

struct ReportTable
{
    std::string_view name;
    std::string_view title;
    std::string_view category; // its rows are the labels of events of this category
    std::string_view action;   // and of this action; empty for any action
    Tally Report::*tally;
};

// In the order the reports show them.
const std::vector<ReportTable>& reportTables();
// Null when no table has that name.
const ReportTable* reportTableNamed(std::string_view name);
// The table that counts events of this category and action; null when none does.
const ReportTable* reportTableCounting(std::string_view category, std::string_view action);

// Rows of a table, most reported first; ties in the order of the values, so that output is stable.
std::vector<std::pair<std::string, Tally::Entry>> sortedRows(const Tally& tally);

// The JSON report lists this many rows of a table at most, the rest summed in one row: a page needs the
// top of a list, and a client can invent labels without end.
constexpr size_t kJsonTableRows = 100;

} // namespace zncip::collector
