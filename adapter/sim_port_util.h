// Small byte helpers shared by the port's files. Internal to the adapter.
#ifndef QUARNEX_ADAPTER_SIM_PORT_UTIL_H_
#define QUARNEX_ADAPTER_SIM_PORT_UTIL_H_

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "testapp/platform/byte_order.h"

namespace quarnex {
namespace sim_internal {

inline uint64_t Cookie(uint64_t kind, uint64_t value, int kind_bits) {
  return (value << kind_bits) | kind;
}

// Without allocating: it answers on paths that must not fail.
inline std::array<uint8_t, 4> Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

// Copies what fits of `bytes` (a vector or an array) into the caller's
// buffer; returns the count.
template <typename Bytes>
uint32_t CopyOut(const Bytes& bytes, uint8_t* out, uint32_t out_size) {
  const uint32_t n = static_cast<uint32_t>(std::min<size_t>(bytes.size(), out_size));
  if (n > 0) std::memcpy(out, bytes.data(), n);
  return n;
}

}  // namespace sim_internal
}  // namespace quarnex

#endif  // QUARNEX_ADAPTER_SIM_PORT_UTIL_H_
