// For tests of every backend: a configuration block that sets the line
// fields alone (the rest zero), written as a stored block holds them.
#ifndef QUARNEX_SETTINGS_LINE_BLOCK_TEST_UTIL_H_
#define QUARNEX_SETTINGS_LINE_BLOCK_TEST_UTIL_H_

#include <cstdint>
#include <vector>

#include "testapp/platform/byte_order.h"
#include "testapp/settings/config_block.h"

namespace quarnex {

inline std::vector<uint8_t> LineBlock(int32_t bit_rate, int32_t size_code, int32_t parity,
                                      uint8_t auto_dcd_cts = 0) {
  std::vector<uint8_t> block(kConfigBlockSize, 0);
  EncodeFixed32(block.data() + block::kBitRate, static_cast<uint32_t>(bit_rate));
  EncodeFixed32(block.data() + block::kTxCharacterSize, static_cast<uint32_t>(size_code));
  EncodeFixed32(block.data() + block::kParity, static_cast<uint32_t>(parity));
  block[block::kAutoDcdCts] = auto_dcd_cts;
  return block;
}

}  // namespace quarnex

#endif  // QUARNEX_SETTINGS_LINE_BLOCK_TEST_UTIL_H_
