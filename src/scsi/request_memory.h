// Where the request layer gets the memory of its request blocks and INQUIRY /
// READ CAPACITY buffers. The tests replace the allocator to exercise the
// out-of-memory path.
#pragma once

#include <cstddef>

using RequestAllocator = void* (*)(std::size_t bytes);

// Zero-filled memory, or nullptr when none is left. Freed with std::free.
extern RequestAllocator allocate_request_memory;
