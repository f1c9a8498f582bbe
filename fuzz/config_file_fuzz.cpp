// Fuzz target: the configuration file reader and the key table behind it.
//
// The input is the text of a "quarnex.cfg". Every entry the reader hands
// out must obey the entry rule of config_file.h, its value must convert as
// the C library would convert it, and applying it may change at most one
// field of the block. When the file sets StripSyncIdle, the preset must
// fill exactly what config_block.h says.
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/config_file.h"

namespace {

using namespace quarnex;

// What one input configures: a zero block and cleared options, as a
// program's first Start has them.
struct Target {
  DeviceConfigBlock block{};
  TesterOptions options;
};

// ParseConfigInt against the C library: wherever strtoll reads the number
// without overflow, the result is its low 32 bits.
void CheckConfigInt(const char* value) {
  const int32_t parsed = ParseConfigInt(value);
  errno = 0;
  const long long reference = std::strtoll(value, nullptr, 10);
  if (errno == 0) {
    FUZZ_CHECK(parsed == static_cast<int32_t>(static_cast<uint32_t>(reference)));
  }
}

// The entry rule: a key of at least one character without "=" or newline,
// a value of at least one character with a newline at most at its end, the
// two with their "=" inside one piece.
void CheckEntry(const char* key, const char* value) {
  FUZZ_CHECK(key != nullptr && value != nullptr);
  const size_t key_length = std::strlen(key);
  const size_t value_length = std::strlen(value);
  FUZZ_CHECK(key_length >= 1);
  FUZZ_CHECK(value_length >= 1);
  FUZZ_CHECK(key_length + 1 + value_length <= kMaxPieceLength);
  FUZZ_CHECK(std::strchr(key, '=') == nullptr);
  FUZZ_CHECK(std::strchr(key, '\n') == nullptr);
  const char* newline = std::strchr(value, '\n');
  FUZZ_CHECK(newline == nullptr || newline == value + value_length - 1);
}

// One entry changes at most one field: the bytes it touched lie within four
// consecutive bytes of the block.
void ApplyAndCheck(Target& target, const char* key, const char* value) {
  const DeviceConfigBlock before = target.block;
  FUZZ_CHECK(ApplyConfigKey(key, value, target.block, target.options) == 1);
  const uint8_t* after = target.block.bytes;
  size_t first = kConfigBlockSize;
  size_t last = 0;
  for (size_t i = 0; i < kConfigBlockSize; ++i) {
    if (before.bytes[i] == after[i]) continue;
    if (first == kConfigBlockSize) first = i;
    last = i;
  }
  FUZZ_CHECK(first == kConfigBlockSize || last - first < 4);
}

uint8_t ExpectedIdleCharacter(int32_t rx_character_size) {
  switch (rx_character_size) {
    case 1:
      return 0x7F;
    case 2:
      return 0x3F;
    case 3:
      return 0xFF;
    default:
      return 0;
  }
}

void ApplyPresetAndCheck(DeviceConfigBlock& block) {
  const DeviceConfigBlock before = block;
  ApplyStripSyncIdlePreset(&block);
  const uint8_t expected_characters[3] = {ExpectedIdleCharacter(BlockRxCharacterSize(before)),
                                          before.bytes[block::kSyncCharacter1],
                                          before.bytes[block::kSyncCharacter2]};
  for (size_t k = 0; k < 3; ++k) {
    const size_t entry = block::kStripTable + block::kStripEntrySize * k;
    FUZZ_CHECK(block.bytes[entry] == expected_characters[k]);
    FUZZ_CHECK(LoadU32(block.bytes, entry + 1) == 3);
  }
  FUZZ_CHECK(LoadU32(block.bytes, block::kStripTableControl) == 3);
  // Nothing outside the three entries and the table control moves.
  const size_t preset_end = block::kStripTable + 3 * block::kStripEntrySize;
  for (size_t i = 0; i < kConfigBlockSize; ++i) {
    const bool in_preset = (i >= block::kStripTable && i < preset_end) ||
                           (i >= block::kStripTableControl && i < block::kStripTableControl + 4);
    if (!in_preset) FUZZ_CHECK(block.bytes[i] == before.bytes[i]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Target target;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  int entries = 0;
  const int result =
      ParseKeyValueText(text, [&target, &entries](const char* key, const char* value) {
        CheckEntry(key, value);
        CheckConfigInt(value);
        ApplyAndCheck(target, key, value);
        ++entries;
        return 1;
      });
  FUZZ_CHECK(result == 1);

  // Stopping at the last entry reports its piece number: at least the
  // number of entries, at most one piece per input byte.
  if (entries > 0) {
    int seen = 0;
    const int stopped = ParseKeyValueText(
        text, [&seen, entries](const char*, const char*) { return ++seen == entries ? 0 : 1; });
    FUZZ_CHECK(seen == entries);
    FUZZ_CHECK(stopped >= entries && static_cast<size_t>(stopped) <= size);
  }

  if (target.options.StripSyncIdle.load() != 0) ApplyPresetAndCheck(target.block);
  return 0;
}
