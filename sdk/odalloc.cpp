#include "odalloc.h"

#include <atomic>
#include <cstdlib>

namespace
{
std::atomic<int> failCountdown{0};
}

void odrxFailAllocationAfter(int n)
{
    failCountdown = n;
}

void* odrxAlloc(std::size_t size)
{
    int countdown = failCountdown.load();
    if (countdown > 0 && failCountdown.fetch_sub(1) == 1)
        throw std::bad_alloc();
    void* p = std::malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}

void odrxFree(void* p)
{
    std::free(p);
}
