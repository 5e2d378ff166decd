#pragma once

#include "odrxobject.h"
#include "odsmartptr.h"
#include "odstring.h"

#include <cstdint>
#include <variant>

class OdResBuf;
using OdResBufPtr = OdSmartPtr<OdResBuf>;

// A typed value, identified by its result-type code.
class OdResBuf : public OdRxObject
{
public:
    enum ValueType
    {
        kRtNone = 5000,
        kRtDouble = 5001,
        kRtInt16 = 5003,
        kRtString = 5005,
        kRtInt32 = 5010,
    };

    static OdResBufPtr newRb(int restype = kRtNone);

    int restype() const { return m_restype; }
    void setRestype(int restype) { m_restype = restype; }

    void setInt32(std::int32_t value) { m_value = value; }
    void setInt16(std::int16_t value) { m_value = static_cast<std::int32_t>(value); }
    void setDouble(double value) { m_value = value; }
    void setString(const OdString& value) { m_value = value; }

    // Reading a value of another kind gives the kind's zero value, as a mistyped read in the host does.
    std::int32_t getInt32() const;
    std::int16_t getInt16() const { return static_cast<std::int16_t>(getInt32()); }
    double getDouble() const;
    OdString getString() const;

    // Equal when type and value are equal.
    bool operator==(const OdResBuf& other) const;
    bool operator!=(const OdResBuf& other) const { return !(*this == other); }

protected:
    explicit OdResBuf(int restype = kRtNone) : m_restype(restype) {}

private:
    int m_restype;
    std::variant<std::monostate, std::int32_t, double, OdString> m_value;
};
