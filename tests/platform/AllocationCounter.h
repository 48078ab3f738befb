#pragma once

/** Counts, from now on or no longer, the allocations made by the calling thread. */
void CountAllocationsOnThisThread (bool enable);

/** Allocations counted so far, on every thread that asked. */
long CountedAllocations();
