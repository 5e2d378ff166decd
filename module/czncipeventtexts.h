// The type, categories, actions and labels of the events the module sends, spelled once for the
// recorders and the service that send them. The collection side reads these texts back to build its
// report and keeps its own copy, which its tests hold equal to this one.
#pragma once

namespace ZnCIPEventTexts
{
constexpr char eventHit[] = "event";

constexpr char commands[] = "Commands";
constexpr char unknownCommands[] = "Unknown Commands";

constexpr char system[] = "System";
constexpr char os[] = "OS";
constexpr char memory[] = "Memory";
constexpr char dpi[] = "DPI";
constexpr char threadCount[] = "Thread Count";
constexpr char screenCount[] = "Screen Count";
constexpr char screen[] = "Screen";
constexpr char resolution[] = "Resolution";
constexpr char openGL[] = "OpenGL";
constexpr char rendererCore[] = "Renderer CORE";
constexpr char versionCore[] = "Version CORE";
constexpr char rendererCompatibility[] = "Renderer COMPATIBILITY";
constexpr char versionCompatibility[] = "Version COMPATIBILITY";

constexpr char session[] = "Session";
constexpr char start[] = "Start";
constexpr char end[] = "End";
constexpr char global[] = "Global";
constexpr char good[] = "Good";
constexpr char bad[] = "Bad";
constexpr char withCrashReport[] = "With_Crash_Report";
constexpr char withoutCrashReport[] = "Without_Crash_Report";
} // namespace ZnCIPEventTexts
