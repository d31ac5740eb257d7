// Where the request layer gets the memory of its request blocks and data
// buffers, and where that memory goes when a request is over. A check sends
// tens of thousands of requests, each with a block and a buffer of the same
// few sizes, so the memory given back is kept and handed out again, zeroed,
// instead of going through the heap every time. The tests replace the
// allocator to exercise the out-of-memory path; a replaced allocator is
// asked for every block and buffer.
#pragma once

#include <cstddef>

using RequestAllocator = void* (*)(std::size_t bytes);

// Zero-filled memory, or nullptr when none is left.
extern RequestAllocator allocate_request_memory;

// The same for memory the caller overwrites whole at once (a transfer's
// buffer, filled with the caller's sectors): kept memory comes as the last
// request left it, not zeroed first.
void* allocate_request_memory_to_fill(std::size_t bytes);

// Gives back `bytes` bytes from allocate_request_memory (nullptr is
// ignored): kept for the next request of that size, or freed. The owner of
// the memory at that moment calls it: the posting routine for a finished
// request, the requester for one that failed before it was sent or was
// given up on; the publication of the status orders one against the other.
void release_request_memory(void* memory, std::size_t bytes);
