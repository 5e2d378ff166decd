// The zncip-collector command line once parsed: what cli.cpp fills in and the commands read.
#pragma once

#include "admin/admin_server.h"
#include "ingest/collect_server.h"
#include "store/rollups.h"

#include <string>

namespace zncip::collector
{

struct Options
{
    CollectConfig server;
    AdminConfig admin;
    std::string readDb; // --read-db: a hot standby of server.dbPath that the admin pages read instead
    bool noAdmin = false;
    std::string htmlFile;
    Period period;
    bool json = false;
    std::string client;
    unsigned keepRawDays = 0; // 0: keep every raw hit
    bool help = false;
};

} // namespace zncip::collector
