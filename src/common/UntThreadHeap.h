#pragma once

#include <cstddef>

// Readies the calling thread's heap for about `bytes` of allocations about to be made.
void PrepareThreadHeap(std::size_t bytes);
