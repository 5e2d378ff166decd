// The zncip-collector command line: serve, report, export and forget.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace zncip::collector
{

// Exit codes: 0 done, 1 the work failed (address, port, database), 2 the command line is wrong.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The zncip-collector program: serve, report, export. "serve" runs until SIGINT or SIGTERM; the caller
// must not have started other threads that would take those signals.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace zncip::collector
