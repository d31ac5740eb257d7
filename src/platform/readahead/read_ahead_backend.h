// A read-ahead cache stacked on another ASPI backend. The utility reads its
// disk one sector per request; each request costs far more than its 512
// bytes over USB. The cache answers a single-sector READ(10) that it does
// not hold with one READ(10) of as many sectors from that sector as the
// device takes in one command (up to 1 MiB), and the following
// single-sector reads of those sectors from memory, completed and posted as
// the device would have completed them.
//
// Whatever the cache does, each request's outcome is the one the device
// gives it alone: a read-ahead that fails in any way is forgotten, the
// requested sector is read by itself (the caller's block handed on as it
// is), and the rest of that window is read one sector per request, so a bad
// sector and its neighbours behave exactly as without the cache. Writes go
// on one per request, unchanged and in order; the held copies of what they
// write are dropped, and a later read of such a sector goes to the device
// by itself, so that a read checking a write reads what the disk kept, not
// what was sent. Every other
// request, and reads and writes of more than one sector or of a LUN other
// than 0, pass through untouched.
//
// No read-ahead without a known capacity: the cache learns it from the
// READ CAPACITY(10) completions passing through (the utility asks once per
// target before it reads), so a capacity the utility cannot learn leaves the
// cache idle, and no request of the cache's own is ever added.
//
// Builds on Windows in the win32 thread model: no thread library, atomics
// and a critical section, and its own inner reads are waited for with
// Sleep(1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/aspi_backend.h"

namespace platform {

// The longest read-ahead, in sectors (1 MiB: what a USB disk's queue
// takes at most, and far within the 16-bit transfer length of a READ(10)):
// shorter where the device takes less in one command
// (AspiBackend::max_transfer_sectors), where the disk ends, or where a
// window that failed begins.
constexpr std::uint32_t READ_AHEAD_SECTORS = 2048;

// What the cache holds at most: two of the longest windows (2 MiB), so
// that the window being read and the one before it are both held, in at
// most 32 windows (32 x 64 KiB where the device takes 64 KiB).
constexpr std::uint32_t READ_AHEAD_CACHE_SECTORS = 2 * READ_AHEAD_SECTORS;
constexpr std::size_t READ_AHEAD_WINDOWS = 32;

// How many 1 ms waits the cache grants one read-ahead before giving it up
// (the request is then read alone, as if the read-ahead had failed).
constexpr unsigned READ_AHEAD_WAIT_LIMIT = 60000;

// How many 1 ms waits a read-ahead that the layer below said it completed
// (SS_COMP from the call) gets for its post. Without one in that time the
// read-ahead is given up, and the cache reads ahead no more: each request
// then goes to the layer as it is.
constexpr unsigned READ_AHEAD_COMPLETED_GRACE = 50;

std::unique_ptr<AspiBackend> make_read_ahead_backend(std::unique_ptr<AspiBackend> inner);

}  // namespace platform
