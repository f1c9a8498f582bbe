#include "testapp/station/run_outcome.h"

#include <cstring>

#include "testapp/report/text_format.h"
#include "testapp/settings/config_block.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {

const char* EndReasonName(EndReason reason) {
  switch (reason) {
    case EndReason::kNotStarted:
      return "not_started";
    case EndReason::kDuration:
      return "duration";
    case EndReason::kPackets:
      return "packets";
    case EndReason::kPortsDone:
      return "ports_done";
    case EndReason::kSignal:
      return "signal";
    case EndReason::kFirstError:
      return "first_error";
    case EndReason::kStopped:
      return "stopped";
    case EndReason::kRunning:
      return "running";
  }
  return "unknown";
}

RunDescription DescribeRun(const RunContext& context, const StationRun& station, bool configured,
                           std::time_t started) {
  const Settings& s = context.settings;
  RunDescription d;
  d.mode = s.Test.Mode;
  d.port_index = s.Test.PortIndex;
  d.port_count = s.Test.PortCount;
  d.packet_size = s.PacketSize;
  if (s.Test.FileNameLength != 0) {
    d.file = std::string(s.Test.FileName, strnlen(s.Test.FileName, kFileNameSize));
    d.file_size = s.Test.FileSize;
  }
  d.pause_after = s.Test.PauseAfter;
  d.delay_ms = s.Test.Delay;
  d.update_interval_ms = s.Test.UpdateInterval;
  if (configured) {
    d.bit_rate = BlockBitRate(context.block);
    d.parity_bit = BlockParity(context.block) != 0;
  }
  d.port = s.Port;
  d.log_path = station.log_path;
  d.duration_s = station.duration_s;
  d.packets_per_port = station.packets_per_port;
  d.interval_s = station.interval_s;
  d.limits = station.limits;
  std::tm utc{};
#if defined(_WIN32)
  gmtime_s(&utc, &started);
#else
  gmtime_r(&started, &utc);
#endif
  d.started_at = FormatC("%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                         utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return d;
}

}  // namespace quarnex
