// The self-contained page: the dashboard's template with its style, its scripts and a report's data put
// in place. The template is searched for its own tags only, never the data, which any client can shape.
#include "report/html_report.h"

#include "report/csv.h"
#include "report/dashboard_files.h"
#include "text/days.h"
#include "text/json.h"

#include <utility>

namespace zncip::collector
{
namespace
{

// The tags of index.html that the files they load replace, in the order they stand there.
constexpr std::string_view kStyleLink = R"(<link rel="stylesheet" href="/static/app.css">)";
constexpr std::string_view kChartScript = R"(<script src="/static/chart.js" defer></script>)";
constexpr std::string_view kViewsScript = R"(<script src="/static/views.js" defer></script>)";
constexpr std::string_view kAppScript = R"(<script src="/static/app.js" defer></script>)";
constexpr std::string_view kDataElementId = "zncip-data";

// The dashboard's own text placed inside a <script> or <style> element must not close it early.
std::string inertInElement(std::string_view text)
{
    std::string out(text);
    for (size_t at = 0; (at = out.find("</", at)) != std::string::npos; at += 3)
        out.replace(at, 2, "<\\/");
    return out;
}

std::string element(std::string_view tag, std::string_view content)
{
    return "<" + std::string(tag) + ">\n" + inertInElement(content) + "\n</" + std::string(tag) + ">";
}

// What the page reads instead of the API: the report, the versions, the rejected samples, and each
// table's CSV as the API would answer it, so that a download is guarded as the API's are and holds every
// row.
std::string pageData(const Report& report, const std::vector<std::string>& versions,
                     const std::vector<StoredHit>& rejectedSamples)
{
    std::string data = "{\"report\":" + reportJson(report) + ",\"versions\":" + versionsJson(versions) +
                       ",\"rejected\":" + samplesJson(rejectedSamples) + ",\"csv\":{";
    const char* comma = "";
    for (const std::string_view name : csvTableNames())
    {
        data += std::exchange(comma, ",");
        appendJsonString(data, name);
        data += ":";
        appendJsonString(data, reportCsv(report, name).value_or(""));
    }
    return data + "}}";
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
    const std::string_view page = dashboard::embeddedFile("index.html");
    // The data goes before the first script, which is Chart.js.
    const std::string data = "<script type=\"application/json\" id=\"" + std::string(kDataElementId) + "\">" +
                             jsonForScriptElement(pageData(report, versions, rejectedSamples)) + "</script>\n";
    const std::pair<std::string_view, std::string> inlined[] = {
        {kStyleLink, element("style", dashboard::embeddedFile("app.css"))},
        {kChartScript, data + element("script", dashboard::embeddedFile("chart.js"))},
        {kViewsScript, element("script", dashboard::embeddedFile("views.js"))},
        {kAppScript, element("script", dashboard::embeddedFile("app.js"))}};
    std::string html;
    size_t from = 0;
    for (const auto& [tag, text] : inlined)
    {
        const size_t at = page.find(tag, from);
        if (at == std::string_view::npos)
            continue;
        html.append(page.substr(from, at - from)) += text;
        from = at + tag.size();
    }
    return html.append(page.substr(from));
}

} // namespace zncip::collector
