#pragma once

#include <QString>

// Applies a host configuration file (INI) to the host's process-wide objects, so that a run of the
// host program can steer every value the telemetry module reads. Keys that are absent keep their
// defaults. See apps/host/zncip-host.ini for every key with its default.
class CZnHostConfiguration
{
public:
    // Puts every host object back to the values a freshly started host has.
    static void ApplyDefaults();
    // Applies defaults, then the file. On a missing or unreadable file, or a malformed value, the
    // defaults stay in force for what could not be read and message says what happened; returns
    // false in that case.
    static bool Load(const QString& path, QString* message);
    // Folder of the named profile in the per-user data folder.
    static QString DefaultProfileFolder(const QString& profileName);
};
