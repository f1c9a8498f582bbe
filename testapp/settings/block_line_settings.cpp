#include "testapp/settings/block_line_settings.h"

#include "testapp/platform/byte_order.h"
#include "testapp/settings/config_block.h"

namespace quarnex {

namespace {

int32_t Field32(const uint8_t* bytes, size_t offset) {
  return static_cast<int32_t>(DecodeFixed32(bytes + offset));
}

}  // namespace

bool LineSettingsFromBlock(const void* block, size_t size, LineSettings* settings) {
  if (block == nullptr || size < kConfigBlockSize) return false;
  const auto* bytes = static_cast<const uint8_t*>(block);
  LineSettings s;
  s.bit_rate = Field32(bytes, block::kBitRate);
  s.data_bits = DataBitsOfCharacterSize(Field32(bytes, block::kTxCharacterSize));
  const int32_t parity = Field32(bytes, block::kParity);
  s.parity = parity == 0 ? LineParity::kNone : parity == 1 ? LineParity::kOdd : LineParity::kEven;
  s.hardware_flow = bytes[block::kAutoDcdCts] != 0;
  *settings = s;
  return true;
}

}  // namespace quarnex
