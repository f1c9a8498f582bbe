#include "testapp/settings/config_block.h"

#include <cstring>
#include <limits>

#include "testapp/platform/byte_order.h"
#include "testapp/platform/message_quote.h"
#include "testapp/settings/config_file.h"

namespace quarnex {

namespace {

enum class Destination { kBlock32, kBlock8, kIgnored, kOption };

struct ConfigKey {
  const char* key;
  Destination destination;
  size_t offset;                                // kBlock32, kBlock8
  std::atomic<int32_t> TesterOptions::*option;  // kOption
};

constexpr ConfigKey Block32(const char* key, size_t offset) {
  return {key, Destination::kBlock32, offset, nullptr};
}
constexpr ConfigKey Block8(const char* key, size_t offset) {
  return {key, Destination::kBlock8, offset, nullptr};
}
constexpr ConfigKey Ignored(const char* key) { return {key, Destination::kIgnored, 0, nullptr}; }
constexpr ConfigKey Option(const char* key, std::atomic<int32_t> TesterOptions::*option) {
  return {key, Destination::kOption, 0, option};
}

// The keys of the configuration file, matched in this order. The ignored
// keys are known to the file format but drive nothing in this tester.
constexpr ConfigKey kConfigKeyTable[] = {
    Block32("Lim", block::kLim),
    Block32("Framing", block::kFraming),
    Ignored("ClockMode"),
    Block32("RxCharacterSize", block::kRxCharacterSize),
    Block32("TxCharacterSize", block::kTxCharacterSize),
    Block32("Parity", block::kParity),
    Ignored("RTS"),
    Ignored("DTR"),
    Block8("MergeFrames", block::kMergeFrames),
    Block32("Oscillator", block::kOscillator),
    Block32("RxClock", block::kRxClock),
    Block32("TxClock", block::kTxClock),
    Block32("TRxCSource", block::kTRxCSource),
    Block8("TRxCIO", block::kTRxCIO),
    Block32("BitRate", block::kBitRate),
    Ignored("BrgSource"),
    Block8("SyncCharacter1", block::kSyncCharacter1),
    Block8("SyncCharacter2", block::kSyncCharacter2),
    Block32("Crc", block::kCrc),
    Block8("CrcPresetIO", block::kCrcPresetIO),
    Block8("zvlIdleSync", block::kZvlIdleSync),
    Block32("ClockEncoding", block::kClockEncoding),
    Block32("SdlcAddressSearchMode", block::kSdlcAddressSearchMode),
    Block8("SdlcAddress", block::kSdlcAddress),
    Ignored("DpllCmd"),
    Block8("AutoRTSDeactivation", block::kAutoRTSDeactivation),
    Ignored("SdlcDmaReadMultipleFrames"),
    Block8("SyncCharSize6Or12", block::kSyncCharSize6Or12),
    Block8("InhibitSyncLoad", block::kInhibitSyncLoad),
    Block8("UseDmaRead", block::kUseDmaRead),
    Block8("UseDmaWrite", block::kUseDmaWrite),
    Block8("Loopback", block::kLoopback),
    Ignored("Echo"),
    Option("OverlapWrite", &TesterOptions::OverlapWrite),
    Option("OverlapRead", &TesterOptions::OverlapRead),
    Option("OverlapIoctl", &TesterOptions::OverlapIoctl),
    Option("IoctlIndex", &TesterOptions::IoctlIndex),
    Option("NumberOverlap", &TesterOptions::NumberOverlap),
    Block8("AutoDcdCts", block::kAutoDcdCts),
    Option("StripSyncIdle", &TesterOptions::StripSyncIdle),
};
static_assert(sizeof(kConfigKeyTable) / sizeof(kConfigKeyTable[0]) == 40);

// The preset's values: the strip code of its three entries and the table
// control it sets.
constexpr uint32_t kStripCodeSyncIdle = 3;
constexpr uint32_t kStripTableControlSyncIdle = 3;
constexpr int kPresetEntries = 3;

// The all-ones idle character of a receive character size code, 0 when the
// code names none.
uint8_t IdleCharacter(int32_t rx_character_size) {
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

}  // namespace

uint32_t LoadU32(const uint8_t* bytes, size_t offset) { return DecodeFixed32(bytes + offset); }

void StoreU32(uint8_t* bytes, size_t offset, uint32_t value) {
  EncodeFixed32(bytes + offset, value);
}

int32_t BlockTxCharacterSize(const DeviceConfigBlock& b) {
  return static_cast<int32_t>(LoadU32(b.bytes, block::kTxCharacterSize));
}

int32_t BlockRxCharacterSize(const DeviceConfigBlock& b) {
  return static_cast<int32_t>(LoadU32(b.bytes, block::kRxCharacterSize));
}

int32_t BlockParity(const DeviceConfigBlock& b) {
  return static_cast<int32_t>(LoadU32(b.bytes, block::kParity));
}

int32_t BlockBitRate(const DeviceConfigBlock& b) {
  return static_cast<int32_t>(LoadU32(b.bytes, block::kBitRate));
}

void ResetTesterOptions(TesterOptions& o) {
  for (auto* option : {&o.OverlapWrite, &o.OverlapRead, &o.OverlapIoctl, &o.IoctlIndex,
                       &o.NumberOverlap, &o.StripSyncIdle}) {
    option->store(0);
  }
}

namespace {

const ConfigKey* FindConfigKey(std::string_view key) {
  for (const ConfigKey& entry : kConfigKeyTable) {
    if (key == entry.key) return &entry;
  }
  return nullptr;
}

// Stores `number` where `entry` puts it in a block; keys of the tester's
// options and ignored keys leave the block alone.
void StoreInBlock(const ConfigKey& entry, int32_t number, DeviceConfigBlock* block) {
  if (entry.destination == Destination::kBlock32) {
    StoreU32(block->bytes, entry.offset, static_cast<uint32_t>(number));
  } else if (entry.destination == Destination::kBlock8) {
    block->bytes[entry.offset] = static_cast<uint8_t>(number);
  }
}

}  // namespace

bool IsConfigKey(std::string_view key) { return FindConfigKey(key) != nullptr; }

namespace {

constexpr ConfigValueRange kRange8{0, std::numeric_limits<uint8_t>::max()};
constexpr ConfigValueRange kRange32{0, std::numeric_limits<int32_t>::max()};

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

bool ConfigKeyRange(std::string_view key, ConfigValueRange* range) {
  const ConfigKey* entry = FindConfigKey(key);
  if (entry == nullptr) return false;
  *range = entry->destination == Destination::kBlock8 ? kRange8 : kRange32;
  return true;
}

std::string ConfigRangeText(const ConfigValueRange& range) {
  return "a whole number from " + std::to_string(range.min) + " to " + std::to_string(range.max);
}

bool IsCleanConfigValue(std::string_view key, std::string_view value, bool blanks_allowed) {
  ConfigValueRange range;
  if (!ConfigKeyRange(key, &range)) return false;
  if (blanks_allowed) {
    while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
    while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
  }
  if (value.empty()) return false;
  // Digits are counted before they are summed, so that twenty of them
  // cannot wrap into range.
  int64_t number = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
    if (number > range.max) return false;
  }
  return number >= range.min;
}

std::string ConfigValueWarning(const char* file_name, const char* key, const char* value) {
  const ConfigKey* entry = FindConfigKey(key);
  if (entry == nullptr || entry->destination == Destination::kIgnored) return "";
  if (IsCleanConfigValue(key, value, true)) return "";
  ConfigValueRange range;
  ConfigKeyRange(key, &range);
  std::string_view shown(value);
  while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.remove_suffix(1);
  const int32_t number = ParseConfigInt(value);
  std::string received;
  switch (entry->destination) {
    case Destination::kBlock8:
      received = "the block received " + std::to_string(static_cast<uint8_t>(number));
      break;
    case Destination::kOption:
      received = "the option received " + std::to_string(number);
      break;
    default:
      received = "the block received " + std::to_string(number);
      break;
  }
  return QuotePathForMessage(file_name) + ": " + key + "=" + QuoteForMessage(shown) + " is not " +
         ConfigRangeText(range) + "; " + received;
}

int ApplyConfigKey(const char* key, const char* value, DeviceConfigBlock& block,
                   TesterOptions& options) {
  const ConfigKey* entry = FindConfigKey(key);
  if (entry == nullptr) return 1;
  const int32_t number = ParseConfigInt(value);
  if (entry->destination == Destination::kOption) {
    (options.*entry->option).store(number);
  } else {
    StoreInBlock(*entry, number, &block);
  }
  return 1;
}

void ApplyConfigKeyToBlock(const char* key, const char* value, DeviceConfigBlock* block) {
  const ConfigKey* entry = FindConfigKey(key);
  if (entry != nullptr) StoreInBlock(*entry, ParseConfigInt(value), block);
}

void ApplyStripSyncIdlePreset(DeviceConfigBlock* block) {
  uint8_t* bytes = block->bytes;
  const uint8_t characters[kPresetEntries] = {
      IdleCharacter(BlockRxCharacterSize(*block)),
      bytes[block::kSyncCharacter1],
      bytes[block::kSyncCharacter2],
  };
  for (int k = 0; k < kPresetEntries; ++k) {
    const size_t entry = block::kStripTable + block::kStripEntrySize * static_cast<size_t>(k);
    bytes[entry] = characters[k];
    StoreU32(bytes, entry + 1, kStripCodeSyncIdle);
  }
  StoreU32(bytes, block::kStripTableControl, kStripTableControlSyncIdle);
}

}  // namespace quarnex
