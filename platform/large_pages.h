#pragma once
// Large blocks that live long or are filled at once (a 16 MiB chip image, its
// copy read aside) cost the host one page fault per 4 KiB page on their first
// touch: thousands, and on a virtual machine each is dear. Backed by the
// host's large pages (2 MiB) they cost a few.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

// The large page the hint asks for; a block aligned to it, and of its size,
// can be given in one piece.
inline constexpr std::size_t kLargePageBytes = std::size_t{2} << 20;

// Asks the host to back the whole pages inside [data, data + bytes) with
// large pages where it has them. Call before the memory is first written. A
// hint only: where the host has no such pages nothing changes.
void PreferLargePages(void* data, std::size_t bytes);

// `bytes` bytes of `value`, asked onto large pages before they are filled.
// Throws std::bad_alloc when the memory is not there.
std::vector<std::uint8_t> FilledBytes(std::size_t bytes, std::uint8_t value);

}  // namespace platform
