#include "report/html_report.h"

#include "report/dashboard_files.h"
#include "report/export.h"
#include "text/days.h"
#include "text/json.h"

#include <regex>
#include <utility>

namespace zncip::collector
{
namespace
{

// Text placed inside a <script> or <style> element must not close it early.
std::string inertInElement(std::string_view text)
{
    std::string out(text);
    for (size_t at = 0; (at = out.find("</", at)) != std::string::npos; at += 3)
        out.replace(at, 2, "<\\/");
    return out;
}

// Puts text in place of the first match, taken as it is (no $ references).
void replaceFirst(std::string& html, const char* pattern, const std::string& text)
{
    std::smatch match;
    if (std::regex_search(html, match, std::regex(pattern)))
        html.replace(static_cast<size_t>(match.position(0)), static_cast<size_t>(match.length(0)), text);
}

} // namespace

std::string versionsJson(const std::vector<std::string>& versions)
{
    std::string out = "{\"versions\":[";
    const char* comma = "";
    for (const std::string& v : versions)
    {
        out += std::exchange(comma, ",");
        appendJsonString(out, v);
    }
    return out + "]}";
}

std::string samplesJson(const std::vector<StoredHit>& samples)
{
    std::string out = "{\"samples\":[";
    const char* comma = "";
    for (const StoredHit& h : samples)
    {
        out += std::exchange(comma, ",") + std::string("{\"received\":");
        appendJsonString(out, formatTimeUtc(h.receivedUs));
        out += ",\"reason\":";
        appendJsonString(out, h.reason);
        out += ",\"body\":";
        appendJsonString(out, h.body);
        out += "}";
    }
    return out + "]}";
}

std::string htmlReport(const Report& report, const std::vector<std::string>& versions,
                       const std::vector<StoredHit>& rejectedSamples)
{
    std::string html(dashboard::embeddedFile("index.html"));
    const std::string style =
        "<style>\n" + inertInElement(dashboard::embeddedFile("app.css")) + "</style>";
    replaceFirst(html, R"(<link[^>]*href="/static/app\.css"[^>]*>)", style);
    const std::string data = "<script type=\"application/json\" id=\"zncip-data\">" +
                             inertInElement("{\"report\":" + reportJson(report) + ",\"versions\":" +
                                            versionsJson(versions) + ",\"rejected\":" +
                                            samplesJson(rejectedSamples) + "}") +
                             "</script>\n";
    for (const auto& [name, pattern] : {std::pair{"chart.js", R"(<script[^>]*src="/static/chart\.js"[^>]*></script>)"},
                                        std::pair{"app.js", R"(<script[^>]*src="/static/app\.js"[^>]*></script>)"}})
    {
        // The data goes before the first script, which is Chart.js.
        const std::string inlined = std::string(name == std::string_view("chart.js") ? data : "") +
                                    "<script>\n" + inertInElement(dashboard::embeddedFile(name)) + "\n</script>";
        replaceFirst(html, pattern, inlined);
    }
    return html;
}

} // namespace zncip::collector
