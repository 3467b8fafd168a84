#include "UntThreadHeap.h"

#include <cstdlib>
#include <vector>

void PrepareThreadHeap(std::size_t bytes) {
    // glibc grows the heap of a thread other than the first a page at a time, one system call
    // per page, each holding the process's memory map against the page faults of the other
    // threads: 10,000 list rows made that way cost 8 ms. Grown here in steps just below the
    // size it would map on its own, the heap keeps its extent once the blocks are freed.
    constexpr std::size_t Step = 120 * 1024;
    std::vector<void*> blocks;
    blocks.reserve(bytes / Step + 1);
    for (std::size_t taken = 0; taken < bytes; taken += Step)
        blocks.push_back(std::malloc(Step));
    for (void* block : blocks)
        std::free(block);
}
