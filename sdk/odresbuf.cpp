#include "odresbuf.h"

OdResBufPtr OdResBuf::newRb(int restype)
{
    return OdResBufPtr(OdRxObjectImpl<OdResBuf>::createObject(restype));
}

std::int32_t OdResBuf::getInt32() const
{
    const auto* v = std::get_if<std::int32_t>(&m_value);
    return v ? *v : 0;
}

double OdResBuf::getDouble() const
{
    const auto* v = std::get_if<double>(&m_value);
    return v ? *v : 0.0;
}

OdString OdResBuf::getString() const
{
    const auto* v = std::get_if<OdString>(&m_value);
    return v ? *v : OdString();
}

bool OdResBuf::operator==(const OdResBuf& other) const
{
    return m_restype == other.m_restype && m_value == other.m_value;
}
