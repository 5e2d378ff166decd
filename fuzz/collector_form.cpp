// A hit body as the collector decodes, validates and exports it: form decoding, UTF-8 repair and the
// protocol checks must hold for any bytes a client sends.
#include "report/export.h"
#include "ingest/form.h"
#include "ingest/validation.h"
#include "text/json.h"
#include "text/utf8.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace zncip::collector;

namespace
{
void require(bool condition)
{
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const DecodedForm form = decodeForm(body);

    bool allUtf8 = true;
    for (const FormField& field : form.fields)
    {
        require(!field.name.empty() || !field.value.empty() || body.find('=') != std::string_view::npos);
        allUtf8 = allUtf8 && isValidUtf8(field.name) && isValidUtf8(field.value);
        // Repair yields valid UTF-8 and leaves valid text alone.
        const std::string repaired = sanitizeUtf8(field.value);
        require(isValidUtf8(repaired));
        require(!isValidUtf8(field.value) || repaired == field.value);
    }
    require(form.badUtf8 == !allUtf8);

    // A hit is rejected with a reason, or accepted without one; both entry points agree.
    const Verdict verdict = validateHit(body, form);
    require(verdict.valid() == verdict.reason().empty());
    require(validateHit(body).reason() == verdict.reason());
    require(!form.badUtf8 || !verdict.valid());

    // What export writes is a JSON string literal: quoted, valid UTF-8, no raw control characters.
    std::string json;
    appendJsonString(json, body);
    require(json.size() >= 2 && json.front() == '"' && json.back() == '"' && isValidUtf8(json));
    for (const char c : json)
        require(static_cast<unsigned char>(c) >= 0x20);
    return 0;
}
