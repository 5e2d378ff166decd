// The one error a listener's start() throws: its message says what the operator must change.
#pragma once

#include <stdexcept>

namespace zncip::collector
{

class StartError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace zncip::collector
