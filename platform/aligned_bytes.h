// SPDX-License-Identifier: MIT
// Memory aligned for reads past the system's cache (kAccessUncached), which
// Windows takes only into buffers aligned to the sector.
#ifndef TARVELIN_PLATFORM_ALIGNED_BYTES_H_
#define TARVELIN_PLATFORM_ALIGNED_BYTES_H_

#include <cstddef>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace tarvelin {

struct AlignedDelete {
  void operator()(unsigned char* bytes) const noexcept {
    ::operator delete[](bytes, std::align_val_t{kUncachedAlignment});
  }
};
using AlignedBytes = std::unique_ptr<unsigned char[], AlignedDelete>;

// `size` bytes aligned to kUncachedAlignment; null when memory runs out.
inline AlignedBytes NewAlignedBytes(std::size_t size) noexcept {
  return AlignedBytes(static_cast<unsigned char*>(
      ::operator new[](size, std::align_val_t{kUncachedAlignment}, std::nothrow)));
}

}  // namespace tarvelin

#endif  // TARVELIN_PLATFORM_ALIGNED_BYTES_H_
