// PostgreSQL's binary wire form: big-endian numbers, and arrays as a header followed by length-prefixed
// elements.
#include "store/postgres/binary_params.h"

#include <endian.h>

#include <cstring>
#include <utility>

namespace zncip::collector::postgres
{
namespace
{

void appendInt32(std::string& out, int32_t v)
{
    const uint32_t be = htobe32(static_cast<uint32_t>(v));
    out.append(reinterpret_cast<const char*>(&be), 4);
}

void appendInt64(std::string& out, int64_t v)
{
    const uint64_t be = htobe64(static_cast<uint64_t>(v));
    out.append(reinterpret_cast<const char*>(&be), 8);
}

} // namespace

void ArrayParam::add(int64_t v)
{
    const uint64_t be = htobe64(static_cast<uint64_t>(v));
    put(&be, 8);
}

void ArrayParam::add(int32_t v)
{
    const uint32_t be = htobe32(static_cast<uint32_t>(v));
    put(&be, 4);
}

void ArrayParam::add(bool v)
{
    const char b = v ? 1 : 0;
    put(&b, 1);
}

void ArrayParam::addNull()
{
    appendInt32(data_, -1);
    ++count_;
    null_ = true;
}

std::string ArrayParam::take()
{
    // An empty array has no dimension, so its header ends after the element type.
    const int32_t head[] = {count_ ? 1 : 0, null_ ? 1 : 0, static_cast<int32_t>(element_), count_, 1};
    const size_t headBytes = (count_ ? 5 : 3) * sizeof(int32_t);
    const size_t unused = kHeadBytes - headBytes;
    for (size_t i = 0; i * sizeof(int32_t) < headBytes; ++i)
    {
        const uint32_t be = htobe32(static_cast<uint32_t>(head[i]));
        std::memcpy(&data_[unused + i * sizeof(int32_t)], &be, sizeof be);
    }
    data_.erase(0, unused);
    return std::move(data_);
}

void ArrayParam::put(const void* p, size_t n)
{
    appendInt32(data_, static_cast<int32_t>(n));
    data_.append(static_cast<const char*>(p), n);
    ++count_;
}

Params& Params::add(std::string bytes)
{
    values.push_back(std::move(bytes));
    isNull.push_back(false);
    return *this;
}

Params& Params::addNull()
{
    values.emplace_back();
    isNull.push_back(true);
    return *this;
}

Params& Params::add(int64_t v)
{
    std::string bytes;
    appendInt64(bytes, v);
    return add(std::move(bytes));
}

Params& Params::add(int32_t v)
{
    std::string bytes;
    appendInt32(bytes, v);
    return add(std::move(bytes));
}

int64_t integer(const PGresult* r, int row, int column)
{
    const char* v = PQgetvalue(r, row, column);
    switch (PQgetlength(r, row, column))
    {
    case 8:
    {
        uint64_t be;
        std::memcpy(&be, v, 8);
        return static_cast<int64_t>(be64toh(be));
    }
    case 4:
    {
        uint32_t be;
        std::memcpy(&be, v, 4);
        return static_cast<int32_t>(be32toh(be));
    }
    case 2:
    {
        uint16_t be;
        std::memcpy(&be, v, 2);
        return static_cast<int16_t>(be16toh(be));
    }
    case 1:
        return *v;
    default:
        return 0;
    }
}

std::string bytes(const PGresult* r, int row, int column)
{
    return std::string(PQgetvalue(r, row, column), static_cast<size_t>(PQgetlength(r, row, column)));
}

} // namespace zncip::collector::postgres
