#include "platform/large_pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace platform {

void PreferLargePages(void* data, std::size_t bytes) {
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (data == nullptr || page_size <= 0) return;
  const auto page = static_cast<std::uintptr_t>(page_size);
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + page - 1) / page * page;
  const std::uintptr_t end = (begin + bytes) / page * page;
  if (end <= first) return;
#ifdef MADV_HUGEPAGE
  ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);  // a hint: its failure changes nothing
#endif
}

std::vector<std::uint8_t> FilledBytes(std::size_t bytes, std::uint8_t value) {
  std::vector<std::uint8_t> block;
  block.reserve(bytes);
  PreferLargePages(block.data(), block.capacity());
  block.assign(bytes, value);
  return block;
}

}  // namespace platform
