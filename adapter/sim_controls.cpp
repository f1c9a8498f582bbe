#include "adapter/sim_controls.h"

#include <algorithm>
#include <cstring>

#include "testapp/driver/control_codes.h"
#include "testapp/platform/byte_order.h"
#include "testapp/settings/block_line_settings.h"

namespace quarnex {

namespace {

constexpr uint8_t kMaxByteValue = 255;
constexpr double kLongestFrameNs = 100.0 * 365 * 24 * 3600 * 1e9;

// Bits of the modem-status byte of request 14.
constexpr uint8_t kStatusCts = 0x01;
constexpr uint8_t kStatusDcd = 0x02;
constexpr uint8_t kStatusRts = 0x04;
constexpr uint8_t kStatusDtr = 0x08;

void AppendLe32(std::vector<uint8_t>* out, uint32_t v) {
  // Encoded in place: GCC 12 takes an insert of a local array, inlined at
  // -O2, for an overflow (-Wstringop-overflow) in Release builds.
  const size_t at = out->size();
  out->resize(at + 4);
  EncodeFixed32(out->data() + at, v);
}

ControlAnswer Done() { return ControlAnswer{}; }

ControlAnswer Brief() {
  ControlAnswer a;
  a.timing = ControlTiming::kBriefly;
  return a;
}

ControlAnswer Byte(uint8_t value, ControlTiming timing = ControlTiming::kAtOnce) {
  ControlAnswer a;
  a.timing = timing;
  a.out.push_back(value);
  return a;
}

ControlAnswer SetConfiguration(PortRegisters& r, const ControlRequest& q) {
  std::memcpy(r.config_block.data(), q.in, kSimConfigBlockSize);
  r.has_config_block = true;
  ControlAnswer a;
  a.timing_changed = true;
  return a;
}

ControlAnswer GetConfiguration(PortRegisters& r, const ControlRequest&) {
  ControlAnswer a;
  a.out.assign(r.config_block.begin(), r.config_block.end());
  return a;
}

// Request 2 answers in the buffer that carried its byte: it echoes it.
ControlAnswer EchoByte(PortRegisters&, const ControlRequest& q) { return Byte(q.in[0]); }

ControlAnswer TakeBytes(PortRegisters&, const ControlRequest&) { return Brief(); }

// Request 4: the answer (which events happened) is only known when it
// completes; the port fills it in.
ControlAnswer WaitMask(PortRegisters&, const ControlRequest&) {
  ControlAnswer a;
  a.timing = ControlTiming::kUntilLineEvent;
  return a;
}

ControlAnswer NothingAtOnce(PortRegisters&, const ControlRequest&) { return Done(); }
ControlAnswer NothingBriefly(PortRegisters&, const ControlRequest&) { return Brief(); }

ControlAnswer ModemStatus(PortRegisters& r, const ControlRequest&) {
  uint8_t v = 0;
  if (r.far->rts.load()) v |= kStatusCts;
  if (r.far->dtr.load()) v |= kStatusDcd;
  if (r.own->rts.load()) v |= kStatusRts;
  if (r.own->dtr.load()) v |= kStatusDtr;
  return Byte(v);
}

ControlAnswer LineErrorByte(PortRegisters& r, const ControlRequest&) {
  return Byte(static_cast<uint8_t>(r.line_errors), ControlTiming::kBriefly);
}

ControlAnswer FramesWaiting(PortRegisters& r, const ControlRequest&) {
  return Byte(
      static_cast<uint8_t>(r.frames_waiting < kMaxByteValue ? r.frames_waiting : kMaxByteValue));
}

ControlAnswer SetTwoValues(PortRegisters& r, const ControlRequest& q) {
  r.two_values[0] = DecodeFixed32(q.in);
  r.two_values[1] = DecodeFixed32(q.in + 4);
  r.has_two_values = true;
  return Done();
}

ControlAnswer GetTwoValues(PortRegisters& r, const ControlRequest&) {
  ControlAnswer a = Brief();
  AppendLe32(&a.out, r.two_values[0]);
  AppendLe32(&a.out, r.two_values[1]);
  return a;
}

ControlAnswer SetDtr(PortRegisters& r, const ControlRequest&) {
  r.own->dtr.store(true);
  return Done();
}
ControlAnswer ClearDtr(PortRegisters& r, const ControlRequest&) {
  r.own->dtr.store(false);
  return Done();
}
ControlAnswer SetRts(PortRegisters& r, const ControlRequest&) {
  r.own->rts.store(true);
  return Done();
}
ControlAnswer ClearRts(PortRegisters& r, const ControlRequest&) {
  r.own->rts.store(false);
  return Done();
}
// Loopback wiring: the far end's RTS is our CTS, its DTR our DCD.
ControlAnswer GetCts(PortRegisters& r, const ControlRequest&) {
  return Byte(r.far->rts.load() ? 1 : 0);
}
ControlAnswer GetDcd(PortRegisters& r, const ControlRequest&) {
  return Byte(r.far->dtr.load() ? 1 : 0);
}

// Requests without buffers: the even ones pend briefly, the odd ones
// complete at once, so a caller meets both kinds.
constexpr ControlEntry kControls[] = {
    {AdapterRequest(0), kSimConfigBlockSize, 0, SetConfiguration},
    {AdapterRequest(1), 0, kSimConfigBlockSize, GetConfiguration},
    {AdapterRequest(2), 1, 1, EchoByte},
    {AdapterRequest(3), 3, 0, TakeBytes},
    {AdapterRequest(4), 4, 4, WaitMask},
    {AdapterRequest(5), 0, 0, NothingAtOnce},
    {AdapterRequest(6), 0, 0, NothingBriefly},
    {AdapterRequest(7), 0, 0, NothingAtOnce},
    {AdapterRequest(8), 0, 0, NothingBriefly},
    {AdapterRequest(9), 0, 0, NothingAtOnce},
    {AdapterRequest(10), 0, 0, NothingBriefly},
    {AdapterRequest(11), 0, 0, NothingAtOnce},
    {AdapterRequest(12), 0, 0, NothingBriefly},
    {AdapterRequest(13), 0, 0, NothingAtOnce},
    {AdapterRequest(14), 0, 1, ModemStatus},
    {AdapterRequest(15), 0, 1, LineErrorByte},
    {AdapterRequest(16), 0, 1, FramesWaiting},
    {AdapterRequest(17), 0, 0, NothingAtOnce},
    {AdapterRequest(18), 0, 0, NothingBriefly},
    {AdapterRequest(19), 0, 0, NothingAtOnce},
    {AdapterRequest(20), 0, 0, NothingBriefly},
    {AdapterRequest(21), 8, 0, SetTwoValues},
    {AdapterRequest(22), 0, 8, GetTwoValues},
    {AdapterRequest(23), 0, 0, NothingBriefly},
    {kIoctlSetDtr, 0, 0, SetDtr},
    {kIoctlClearDtr, 0, 0, ClearDtr},
    {kIoctlSetRts, 0, 0, SetRts},
    {kIoctlClearRts, 0, 0, ClearRts},
    {kIoctlGetCts, 0, 1, GetCts},
    {kIoctlGetDcd, 0, 1, GetDcd},
};

}  // namespace

SimClock::duration LineTiming::FrameTime(size_t bytes) const {
  if (!paced()) return SimClock::duration::zero();
  const double bits =
      static_cast<double>(bits_per_character + (parity ? 1 : 0)) * static_cast<double>(bytes);
  // A 4 GB frame at 1 bit/s would overflow the clock; a century is as good
  // as forever for a line.
  const double ns = std::min(bits * 1e9 / static_cast<double>(bit_rate), kLongestFrameNs);
  return std::chrono::duration_cast<SimClock::duration>(
      std::chrono::nanoseconds(static_cast<int64_t>(ns + 0.5)));
}

LineTiming TimingFromBlock(const uint8_t* block) {
  LineTiming t;
  LineSettings line;
  if (!LineSettingsFromBlock(block, kSimConfigBlockSize, &line)) return t;
  t.bits_per_character = line.data_bits;
  t.parity = line.parity != LineParity::kNone;
  t.bit_rate = line.bit_rate;
  return t;
}

const ControlEntry* FindControl(uint32_t code) {
  for (const ControlEntry& e : kControls) {
    if (e.code == code) return &e;
  }
  return nullptr;
}

}  // namespace quarnex
