// PostgreSQL's binary wire form: the parameters of a call (numbers, bytes and one-dimensional arrays of
// them) and the columns of its results. Plain values without shared state; any thread may use its own.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zncip::collector::postgres
{

// Type identifiers of the parameters the store sends (the server's built-in OIDs).
constexpr Oid kBool = 16, kBytea = 17, kInt8 = 20, kInt4 = 23;
constexpr Oid kBoolArray = 1000, kByteaArray = 1001, kInt4Array = 1007, kInt8Array = 1016;

// A one-dimensional array in PostgreSQL's binary form, built element by element.
class ArrayParam
{
public:
    explicit ArrayParam(Oid element) : element_(element)
    {
        data_.reserve(kFirstBytes); // a batch's numbers at once, without growing from the header's size
        data_.assign(kHeadBytes, '\0');
    }
    void add(const std::string& bytes) { put(bytes.data(), bytes.size()); }
    void add(int64_t v);
    void add(int32_t v);
    void add(bool v);
    void addNull();
    // The whole array, header first; the param is spent.
    std::string take();

private:
    // Dimensions, null flag, element type, then the one dimension's length and lower bound: kept free at
    // the front of the elements, so that the array is never copied to put it before them.
    static constexpr size_t kHeadBytes = 5 * 4;
    static constexpr size_t kFirstBytes = 256;
    void put(const void* p, size_t n);
    Oid element_;
    std::string data_;
    int32_t count_ = 0;
    bool null_ = false;
};

// Parameters of one call, every one sent in binary form.
struct Params
{
    std::vector<std::string> values;
    std::vector<bool> isNull;

    Params& add(std::string bytes);
    Params& addNull();
    Params& add(int64_t v);
    Params& add(int32_t v);
};

// A column of a binary result: a smallint, integer, bigint or boolean as a number, or the bytes as they are.
int64_t integer(const PGresult* r, int row, int column);
std::string bytes(const PGresult* r, int row, int column);

} // namespace zncip::collector::postgres
