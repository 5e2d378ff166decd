#pragma once

#include <cstddef>
#include <new>
#include <utility>

// The SDK heap. Module objects, recorders and services live on it; a failed allocation throws
// std::bad_alloc, never returns null.
void* odrxAlloc(std::size_t size);
void odrxFree(void* p);

// Test seam: the n-th allocation from now on (1 = the next one) fails; 0 disarms.
void odrxFailAllocationAfter(int n);

// Class-scope operators that put a class and everything derived from it on the SDK heap. Deleting
// through a base with a virtual destructor still frees the complete object.
struct OdRxHeapOperators
{
    static void* operator new(std::size_t size) { return odrxAlloc(size); }
    static void operator delete(void* p) { odrxFree(p); }
    static void* operator new(std::size_t, void* where) { return where; }
    static void operator delete(void*, void*) {}
};
