// The dashboard's files (index.html, views.js, app.js, app.css, chart.js), carried inside the program so that
// it serves them without a network or a folder to install.
#pragma once

#include <string_view>

namespace zncip::collector::dashboard
{

// The file's bytes; empty when there is no such file.
std::string_view embeddedFile(std::string_view name);

} // namespace zncip::collector::dashboard
