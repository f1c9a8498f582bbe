// What the settings dialogs do with their fields when they open and when
// they are confirmed, apart from any widget.
//
// The dialogs read their widgets into the plain inputs below and call these
// functions, so every rule can be checked without a window. Pure functions,
// safe from any thread.
#ifndef QUARNEX_UI_DIALOG_RULES_H_
#define QUARNEX_UI_DIALOG_RULES_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "testapp/settings/records.h"
#include "testapp/ui/metrics_setting.h"

namespace quarnex {

// A dialog ends with the id of the button that closed it.
inline constexpr int kDialogOk = 1;
inline constexpr int kDialogCancel = 2;

// Reads a number as the dialogs do: leading blanks are skipped, then digits
// up to the first other character. No digits, or a value beyond 32 bits,
// reads as 0.
uint32_t ParseUnsignedDecimal(std::string_view text);

// The Test Settings dialog's record: the test settings and the packet size.
struct TestDialogValues {
  TestSettings Test;
  int32_t PacketSize;
};

// Ranges of the up-down controls. The first port's arrows stop at 256; a
// number typed into its field may go up to kMaxPortIndex.
inline constexpr int kPortIndexMin = 1;
inline constexpr int kPortIndexMax = 256;
inline constexpr int kPortCountMin = 1;
inline constexpr int kPortCountMax = kMaxPorts;
inline constexpr int kPacketSizeMin = 1;
inline constexpr int kPacketSizeMax = kMaxPacketSize;

// A value a dialog cannot keep: the field (its position in the dialog's
// own list below) and the word shown next to it. OK keeps the dialog open
// while there is one, so nothing is stored as 0 or dropped unseen.
struct FieldProblem {
  int field;
  std::string text;
};

// Reads a whole number as typed: blanks around it, then only digits. False
// for an empty field, any other character, or a value past 32 bits.
bool ReadWholeNumber(std::string_view text, uint32_t* value);

// The mode list, in order; an entry's position is its TestMode.
inline constexpr const char* kModeNames[] = {"Loopback", "Receive only", "Transmit only"};
inline constexpr int kNoModeSelected = -1;

// The file label's text for a selected mode other than Loopback.
const char* FileLabelText(int mode);
inline constexpr char kCompareFileLabel[] = "Compare with file: (Optional)";
inline constexpr char kTransmitFileLabel[] = "Transmit file: (Optional)";

// What the Test Settings dialog holds when OK is pressed. `file_name` is the
// file field's text in the file system's 8-bit encoding.
struct TestDialogInput {
  std::string port_index;
  std::string packet_size;
  int selected_mode;  // position in the mode list, or kNoModeSelected
  std::string file_name;
  std::string port_count;  // "Number of ports"
};

// The Test Settings fields CheckTestDialog names.
enum TestDialogField { kFieldPortIndex, kFieldPortCount, kFieldPacketSize, kFieldFileName };

// Test Settings, before OK applies anything: the first port 1 to
// kMaxPortIndex, the number of ports 1 to 128 with the last port at most
// kMaxPortIndex, the packet size 1 to 65536, and for a mode other than
// Loopback a file name of at most 255 bytes. Empty when all hold.
std::vector<FieldProblem> CheckTestDialog(const TestDialogInput& input);

// Test Settings, OK: PortIndex and PortCount from their fields, PacketSize
// only when the field reads 1..65536, Mode the selected position (or -1),
// and for a mode other than Loopback the file name cut to 255 bytes (never
// inside a multi-byte character) with FileNameLength its length; Loopback
// sets FileNameLength 0 and keeps the old FileName. A port count that does
// not read 1..128 is taken as 1.
void ApplyTestDialogOk(const TestDialogInput& input, TestDialogValues* values);

// What the Options dialog holds when OK is pressed.
struct OptionsInput {
  bool pause_after_checked;
  std::string pause_after;
  std::string delay;
  std::string update_interval;
  bool timeout_blocked_threads;
};

// The Options fields CheckOptions names.
enum OptionsField { kFieldPauseAfter, kFieldDelay, kFieldUpdateInterval };

// Options, before OK: a checked "Pause After" needs a count of 1 to
// 2147483647; Delay and the refresh interval need 0 to 3600000.
std::vector<FieldProblem> CheckOptions(const OptionsInput& input);

// Options, OK: a checked "Pause After" takes its count only when it is
// above 0 as a signed 32-bit value, an unchecked one sets 0; Delay and
// UpdateInterval take their fields as read (empty gives 0).
void ApplyOptionsOk(const OptionsInput& input, TestSettings* test);

// The Options dialog's Prometheus endpoint: "Serve metrics" and the
// address field.
struct MetricsInput {
  bool serve;
  std::string address;
};

// The Options field CheckMetricsOption names, after those of CheckOptions.
inline constexpr int kFieldMetricsAddress = kFieldUpdateInterval + 1;

// Options, before OK: the address, blanks around it dropped, must be
// ADDRESS:PORT as quarnex-run --metrics takes it (an IPv4 address or
// [IPv6], port 0 to 65535), checked or not, so that what is stored can be
// served.
std::vector<FieldProblem> CheckMetricsOption(const MetricsInput& input);

// Options, OK: the setting the fields give (CheckMetricsOption has passed
// them).
MetricsSetting ReadMetricsFields(const MetricsInput& input);

// The Timeouts fields CheckTimeouts names.
enum TimeoutsField { kFieldMultiplier, kFieldConstant };

// Timeouts, before OK: both fields need a whole number of 0 to 4294967295.
std::vector<FieldProblem> CheckTimeouts(std::string_view multiplier, std::string_view constant);

// Timeouts, OK: both fields as read (CheckTimeouts has passed them).
TimeoutSettings ReadTimeoutFields(std::string_view multiplier, std::string_view constant);

// The Received data view's text: at most `length` bytes of `data`, ending
// at the first zero byte.
std::string ReceivedText(const std::vector<uint8_t>& data, uint32_t length);

}  // namespace quarnex

#endif  // QUARNEX_UI_DIALOG_RULES_H_
