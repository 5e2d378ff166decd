// Decoding a hit body as application/x-www-form-urlencoded; never fails, so that export can show anything.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zncip::collector
{

struct FormField
{
    std::string name;
    std::string value;
};

// A body decoded as application/x-www-form-urlencoded. Decoding never fails: like a browser, it keeps a
// '%' that does not start a valid escape as it is and keeps invalid UTF-8 bytes; the two flags let the
// validator refuse such hits while export can still show what arrived.
struct DecodedForm
{
    std::vector<FormField> fields;
    bool badPercent = false;
    bool badUtf8 = false;
};

// Splits on '&', skips empty pieces, splits each at the first '=', turns '+' into a blank and then
// percent-decodes. The module leaves '+' unencoded, so a literal plus in a label arrives as a blank:
// that is the format's rule, and receivers that read it otherwise would disagree with every other one.
DecodedForm decodeForm(std::string_view body);

} // namespace zncip::collector
