#include "scsi/request_memory.h"

#include <cstdlib>
#include <cstring>

namespace {

// A request holds a block and one buffer, and a given-up request keeps
// both until its post arrives: a few places cover every size in use.
constexpr int KEPT_PIECES = 4;

struct KeptPiece {
  void* memory = nullptr;
  std::size_t bytes = 0;
};
KeptPiece kept[KEPT_PIECES];

void* take_kept(std::size_t bytes) {
  for (KeptPiece& piece : kept) {
    if (piece.memory != nullptr && piece.bytes == bytes) {
      void* memory = piece.memory;
      piece.memory = nullptr;
      return memory;
    }
  }
  return nullptr;
}

void* kept_or_heap_memory(std::size_t bytes) {
  void* memory = take_kept(bytes);
  return memory != nullptr ? std::memset(memory, 0, bytes) : std::calloc(1, bytes);
}

}  // namespace

RequestAllocator allocate_request_memory = kept_or_heap_memory;

void* allocate_request_memory_to_fill(std::size_t bytes) {
  if (allocate_request_memory != kept_or_heap_memory) return allocate_request_memory(bytes);
  void* memory = take_kept(bytes);
  return memory != nullptr ? memory : std::calloc(1, bytes);
}

void release_request_memory(void* memory, std::size_t bytes) {
  if (memory == nullptr) return;
  for (KeptPiece& piece : kept) {
    if (piece.memory == nullptr) {
      piece = {memory, bytes};
      return;
    }
  }
  std::free(memory);
}
