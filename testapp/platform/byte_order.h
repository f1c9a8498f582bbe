// Little-endian 32-bit values in byte images: the stored settings records,
// the configuration block, the control requests' input and output. The one
// place they are encoded and decoded.
#ifndef QUARNEX_PLATFORM_BYTE_ORDER_H_
#define QUARNEX_PLATFORM_BYTE_ORDER_H_

#include <cstdint>

namespace quarnex {

// Writes `value` into out[0..3], lowest byte first.
inline void EncodeFixed32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value >> 16);
  out[3] = static_cast<uint8_t>(value >> 24);
}

// The value in in[0..3], lowest byte first.
inline uint32_t DecodeFixed32(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
         static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

}  // namespace quarnex

#endif  // QUARNEX_PLATFORM_BYTE_ORDER_H_
