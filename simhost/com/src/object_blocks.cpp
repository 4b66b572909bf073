// Memory for the facade's COM objects, kept per thread for reuse: a walk of a large host makes and
// drops two or three objects for each of its millions of queries.
#include <cstddef>
#include <new>

#include "com_object.hpp"
#include "keptblocks/kept_blocks.h"

namespace simhost::com {

namespace {

void free_block(void* block) {
  ::operator delete(block);
}
struct ObjectTag;
// Blocks up to 512 bytes are kept; none under AddressSanitizer, so that a freed object stays
// poisoned and a use after free is caught, and none on Windows (see KeptBlocks::kKeeps).
using Blocks = keptblocks::KeptBlocks<ObjectTag, 16, 32, 8, free_block>;

}  // namespace

void* take_block(std::size_t bytes) {
  if (void* kept = Blocks::Take(bytes))
    return kept;
  return ::operator new(Blocks::BlockBytes(bytes));
}

void keep_block(void* block, std::size_t bytes) noexcept {
  if (!Blocks::Keep(block, bytes))
    ::operator delete(block);
}

}  // namespace simhost::com
