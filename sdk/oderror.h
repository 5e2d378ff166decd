#pragma once

#include <exception>

// Base of the exceptions the SDK raises. code() is the SDK's result code for the failure.
class OdError : public std::exception
{
public:
    enum Code
    {
        eNotThatKindOfClass = 5,
    };

    explicit OdError(Code code) : m_code(code) {}
    Code code() const { return m_code; }
    const char* what() const noexcept override { return "SDK error"; }

private:
    Code m_code;
};
