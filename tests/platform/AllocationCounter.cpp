// Replaces the global allocation functions of the test binary so that a test
// can count what one thread allocates. Kept in a file of its own so that the
// compiler never sees an inlined new next to the free of its delete.

#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
thread_local bool counting = false;
std::atomic<long> counted { 0 };
} // namespace

void CountAllocationsOnThisThread (bool enable)
{
    counting = enable;
}

long CountedAllocations()
{
    return counted.load();
}

void* operator new (std::size_t size)
{
    if (counting)
        counted.fetch_add (1);
    if (void* memory = std::malloc (size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}

void operator delete (void* memory) noexcept
{
    std::free (memory);
}

void operator delete (void* memory, std::size_t) noexcept
{
    std::free (memory);
}
