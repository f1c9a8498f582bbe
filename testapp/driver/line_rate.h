// The rate a line really runs at, which may differ from the BitRate of the
// configuration block: drivers round a rate to what their clock divides,
// or refuse it.
//
// kIoctlGetLineRate is this system's own request, not one of the adapter's:
// no input, 4 bytes out, the rate in bits per second, little-endian, as the
// driver reports it now. A backend that cannot tell (the simulated adapter,
// whose line runs exactly at BitRate) fails it with kErrorInvalidFunction.
#ifndef QUARNEX_DRIVER_LINE_RATE_H_
#define QUARNEX_DRIVER_LINE_RATE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "testapp/driver/control_codes.h"
#include "testapp/driver/device.h"
#include "testapp/platform/byte_order.h"

namespace quarnex {

inline constexpr uint32_t kIoctlGetLineRate = AdapterRequest(0x100);
static_assert(kIoctlGetLineRate == 0x80002400u);

// kIoctlGetLineFraming, ours too: no input, 4 bytes out, little-endian:
// the bits each character carries on the line beside its data and parity
// bits (its start bit and stop bits), in halves of a bit, since a UART may
// send one and a half stop bits. An asynchronous line (a TTY, a COM port)
// answers it; a synchronous one sends its characters back to back and
// fails it with kErrorInvalidFunction, which counts as no framing.
inline constexpr uint32_t kIoctlGetLineFraming = AdapterRequest(0x101);
static_assert(kIoctlGetLineFraming == 0x80002404u);

// The framing of an asynchronous character in half bits: one start bit
// and `stop_half_bits` / 2 stop bits.
inline constexpr uint32_t kStartBitHalves = 2;

// The rate `device` reports for its line, or 0 when it cannot tell.
inline uint32_t QueryLineRate(Device& device) {
  uint8_t out[4] = {};
  const IoStatus status = device.Control(kIoctlGetLineRate, nullptr, 0, out, sizeof(out), nullptr);
  if (!status.done() || status.count < sizeof(out)) return 0;
  return DecodeFixed32(out);
}

// The framing bits `device` reports per character, in halves of a bit; 0
// for a synchronous line or one that cannot tell.
inline uint32_t QueryLineFraming(Device& device) {
  uint8_t out[4] = {};
  const IoStatus status =
      device.Control(kIoctlGetLineFraming, nullptr, 0, out, sizeof(out), nullptr);
  if (!status.done() || status.count < sizeof(out)) return 0;
  return DecodeFixed32(out);
}

// "Quarnex01: the line runs at 115384 bit/s, not the 115200 bit/s of
// BitRate": how a changed rate is told, on stderr and in the log. Without a
// BitRate (0) the line keeps the rate it had: "Quarnex01: the line runs at
// 38400 bit/s; BitRate sets none".
inline std::string LineRateNotice(std::string_view label, uint32_t asked, uint32_t actual) {
  std::string text(label);
  text += ": the line runs at " + std::to_string(actual) + " bit/s";
  text += asked == 0 ? "; BitRate sets none"
                     : ", not the " + std::to_string(asked) + " bit/s of BitRate";
  return text;
}

}  // namespace quarnex

#endif  // QUARNEX_DRIVER_LINE_RATE_H_
