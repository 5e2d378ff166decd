// The answer of /debug/collect: the validator's verdict on one hit, as JSON.
#pragma once

#include <string>

namespace zncip::collector
{

// {"hitParsingResult":[{"valid":...,"parserMessage":[{"messageType":"ERROR","description":...,
// "parameter":...}],"hit":"/debug/collect?BODY"}],"parserMessage":[{"messageType":"INFO",...}]}
std::string verdictJson(const std::string& body);

} // namespace zncip::collector
