// The device configuration block sent to each port's driver, the key table
// that fills it from "quarnex.cfg", and the tester's own switches from the
// same file.
//
// Everything here runs on the thread that starts the run, on the block and
// options its caller hands in (a program keeps them in its run context).
// TesterOptions are atomics because worker threads of ports set up earlier
// read them while later ports are configured (the values stay the same
// while the file does).
#ifndef QUARNEX_SETTINGS_CONFIG_BLOCK_H_
#define QUARNEX_SETTINGS_CONFIG_BLOCK_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarnex {

inline constexpr size_t kConfigBlockSize = 338;

// Field offsets of the block (byte-packed, little-endian; the 32-bit fields
// at odd offsets stay unaligned).
namespace block {
inline constexpr size_t kLim = 4;
inline constexpr size_t kFraming = 8;
inline constexpr size_t kRxCharacterSize = 12;
inline constexpr size_t kTxCharacterSize = 16;
inline constexpr size_t kParity = 20;
inline constexpr size_t kAutoDcdCts = 24;
inline constexpr size_t kOscillator = 25;
inline constexpr size_t kRxClock = 29;
inline constexpr size_t kTxClock = 33;
inline constexpr size_t kTRxCSource = 37;
inline constexpr size_t kTRxCIO = 41;
inline constexpr size_t kBitRate = 42;
inline constexpr size_t kClockEncoding = 46;
inline constexpr size_t kCrc = 50;
inline constexpr size_t kCrcPresetIO = 54;
inline constexpr size_t kZvlIdleSync = 55;
inline constexpr size_t kSdlcAddressSearchMode = 56;
inline constexpr size_t kSdlcAddress = 60;
inline constexpr size_t kAutoRTSDeactivation = 61;
inline constexpr size_t kSyncCharSize6Or12 = 62;
inline constexpr size_t kSyncCharacter1 = 63;
inline constexpr size_t kSyncCharacter2 = 64;
inline constexpr size_t kInhibitSyncLoad = 65;
inline constexpr size_t kStripTable = 66;  // 20 entries of 5 bytes
inline constexpr size_t kStripEntrySize = 5;
inline constexpr int kStripEntries = 20;
inline constexpr size_t kStripTableControl = 166;
inline constexpr size_t kMergeFrames = 194;
inline constexpr size_t kUseDmaRead = 195;
inline constexpr size_t kUseDmaWrite = 196;
inline constexpr size_t kLoopback = 197;
}  // namespace block

struct DeviceConfigBlock {
  uint8_t bytes[kConfigBlockSize];
};

// Little-endian access at any offset.
uint32_t LoadU32(const uint8_t* bytes, size_t offset);
void StoreU32(uint8_t* bytes, size_t offset, uint32_t value);

// The block's fields the tester reads back.
// Data bits of the character size codes 0, 1, 2, 3 (RxCharacterSize,
// TxCharacterSize): 5, 7, 6, 8, the adapter's order, not ascending. Lines
// run any other code with 8.
inline constexpr int kDataBitsOfCharacterSize[] = {5, 7, 6, 8};
inline constexpr int kDefaultDataBits = 8;
inline bool IsCharacterSizeCode(int64_t code) { return code >= 0 && code < 4; }
inline int DataBitsOfCharacterSize(int64_t code) {
  return IsCharacterSizeCode(code) ? kDataBitsOfCharacterSize[code] : kDefaultDataBits;
}

int32_t BlockTxCharacterSize(const DeviceConfigBlock& b);
int32_t BlockRxCharacterSize(const DeviceConfigBlock& b);
int32_t BlockParity(const DeviceConfigBlock& b);
int32_t BlockBitRate(const DeviceConfigBlock& b);

struct TesterOptions {
  std::atomic<int32_t> OverlapWrite{0};
  std::atomic<int32_t> OverlapRead{0};
  std::atomic<int32_t> OverlapIoctl{0};
  std::atomic<int32_t> IoctlIndex{0};
  std::atomic<int32_t> NumberOverlap{0};
  std::atomic<int32_t> StripSyncIdle{0};
};

// Sets every tester option back to 0, as at program start (the program
// itself never does; tests and the fuzzer start each case so).
void ResetTesterOptions(TesterOptions& options);

// Applies one entry of the configuration file to `block` or `options`
// through the key table: exact, case-sensitive match in table order; an
// unknown or ignored key changes nothing. 32-bit destinations take
// the value read by ParseConfigInt, 8-bit ones its low 8 bits. Returns 1
// every time, so it never stops the file reader. Key and value are
// NUL-terminated and only read during the call.
int ApplyConfigKey(const char* key, const char* value, DeviceConfigBlock& block,
                   TesterOptions& options);

// Applies one entry to `block` as ApplyConfigKey applies it; the tester's
// options, ignored and unknown keys change nothing. For
// readers that must leave the run's block and options alone, such as the
// window's Port dialog, which shows the line the next run will set up.
void ApplyConfigKeyToBlock(const char* key, const char* value, DeviceConfigBlock* block);

// Whether `key` names an entry of the key table (exact, case-sensitive).
bool IsConfigKey(std::string_view key);

// The numbers a key's destination holds as the tester reads it: 0 to 255
// for an 8-bit field, 0 to 2147483647 for a 32-bit one (the tester reads
// those as signed, and no key means anything below 0). Ignored keys take
// the 32-bit range, since they are 32-bit values of the file format.
struct ConfigValueRange {
  int64_t min = 0;
  int64_t max = 0;
};
// False for a key outside the table.
bool ConfigKeyRange(std::string_view key, ConfigValueRange* range);
// "a whole number from 0 to 255", the wording of the messages below.
std::string ConfigRangeText(const ConfigValueRange& range);

// Whether `value` is a clean number for `key`: decimal digits only, no
// sign, in the key's range. With `blanks_allowed` (a line of the file),
// white space around the digits is fine too, the line end included, since
// the reader skips it as well. False for a key outside the table.
bool IsCleanConfigValue(std::string_view key, std::string_view value, bool blanks_allowed);

// The warning for a file entry whose value is not clean (IsCleanConfigValue
// with blanks allowed): names the file, the entry and the accepted range,
// and says what the destination received, e.g.
// "quarnex.cfg: BitRate=1e6 is not a whole number from 0 to 2147483647;
// the block received 1". Empty when the value is clean or the key is
// ignored or unknown (they change nothing, so nothing is to be said).
std::string ConfigValueWarning(const char* file_name, const char* key, const char* value);

// The StripSyncIdle preset: strip entry 0 gets the all-ones idle character
// of RxCharacterSize (1, 2, 3 -> 0x7F, 0x3F, 0xFF; else 0), entries 1 and 2
// the two sync characters; entries 0..2 get code 3, StripTableControl 3.
void ApplyStripSyncIdlePreset(DeviceConfigBlock* block);

}  // namespace quarnex

#endif  // QUARNEX_SETTINGS_CONFIG_BLOCK_H_
