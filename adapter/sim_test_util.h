// Helpers shared by the simulated adapter's tests: configuration blocks,
// adapters built from text, and overlapped transfers with their own buffer,
// record and event.
#ifndef QUARNEX_ADAPTER_SIM_TEST_UTIL_H_
#define QUARNEX_ADAPTER_SIM_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "adapter/sim_controls.h"
#include "adapter/simulated_adapter.h"
#include "testapp/driver/control_codes.h"
#include "testapp/driver/device.h"
#include "testapp/settings/line_block_test_util.h"

namespace quarnex {

// Character size codes of the block: 0, 1, 2, 3 = 5, 7, 6, 8 bits.
inline constexpr uint32_t kFiveBits = 0;
inline constexpr uint32_t kSevenBits = 1;
inline constexpr uint32_t kSixBits = 2;
inline constexpr uint32_t kEightBits = 3;

inline std::vector<uint8_t> ConfigBlock(uint32_t size_code, uint32_t parity, int32_t bit_rate) {
  return LineBlock(bit_rate, static_cast<int32_t>(size_code), static_cast<int32_t>(parity));
}

// Sends the configuration block synchronously, as the tester does.
inline void Configure(Device& device, uint32_t size_code, uint32_t parity, int32_t bit_rate) {
  const std::vector<uint8_t> block = ConfigBlock(size_code, parity, bit_rate);
  ASSERT_TRUE(device
                  .Control(kIoctlSetConfiguration, block.data(),
                           static_cast<uint32_t>(block.size()), nullptr, 0, nullptr)
                  .done());
}

inline std::unique_ptr<SimAdapter> MakeAdapter(std::string_view text) {
  SimConfig config;
  std::vector<std::string> problems;
  EXPECT_TRUE(ParseSimConfig(text, &config, &problems))
      << (problems.empty() ? "" : problems.front());
  return std::make_unique<SimAdapter>(config);
}

// One overlapped transfer: buffer, completion record and a manual-reset
// event. Must outlive the transfer (or its abort).
struct Transfer {
  explicit Transfer(size_t size = 0) : buffer(size) {}
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  bool Wait(int64_t timeout_ms) { return WaitAny({event.get()}, timeout_ms) == 0; }
  uint32_t status() const { return completion.status.load(); }
  uint32_t count() const { return completion.count.load(); }
  std::string text() const { return std::string(buffer.begin(), buffer.begin() + count()); }

  EventRef event = MakeEvent(Event::Kind::kManualReset);
  Completion completion{event};
  std::vector<uint8_t> buffer;
};

inline std::vector<uint8_t> Bytes(std::string_view s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

}  // namespace quarnex

#endif  // QUARNEX_ADAPTER_SIM_TEST_UTIL_H_
