// The texts of the module's events that the report reads: the hit type, and the categories, actions and
// labels its recorders and its service send. A change on the module's side must be made here too, or the
// report stops counting those events; a unit test holds the two spellings equal.
#pragma once

#include <string_view>

namespace zncip::collector::vocabulary
{

inline constexpr std::string_view kEventHit = "event"; // the hit type (t) of every event

// Commands as the user starts them (label "NAME (GROUP)"), and names that match no command.
inline constexpr std::string_view kCommands = "Commands";
inline constexpr std::string_view kUnknownCommands = "Unknown Commands";

// The machine, once per run of the application.
inline constexpr std::string_view kSystem = "System";
inline constexpr std::string_view kOperatingSystem = "OS";
inline constexpr std::string_view kMemory = "Memory";
inline constexpr std::string_view kScaling = "DPI";
inline constexpr std::string_view kThreadCount = "Thread Count";
inline constexpr std::string_view kScreenCount = "Screen Count";
inline constexpr std::string_view kScreen = "Screen";
inline constexpr std::string_view kResolution = "Resolution";
inline constexpr std::string_view kOpenGL = "OpenGL";
inline constexpr std::string_view kRendererCore = "Renderer CORE";
inline constexpr std::string_view kVersionCore = "Version CORE";
inline constexpr std::string_view kRendererCompatibility = "Renderer COMPATIBILITY";
inline constexpr std::string_view kVersionCompatibility = "Version COMPATIBILITY";

// Sessions: a run starts and ends; a later run reports each finished one (Global) as good or bad, and a
// bad one also as with or without a crash report (action Bad, label Bad for the count of bad ones).
inline constexpr std::string_view kSession = "Session";
inline constexpr std::string_view kStart = "Start";
inline constexpr std::string_view kEnd = "End";
inline constexpr std::string_view kFinished = "Global";
inline constexpr std::string_view kGood = "Good";
inline constexpr std::string_view kBad = "Bad";
inline constexpr std::string_view kWithCrashReport = "With_Crash_Report";
inline constexpr std::string_view kWithoutCrashReport = "Without_Crash_Report";

} // namespace zncip::collector::vocabulary
