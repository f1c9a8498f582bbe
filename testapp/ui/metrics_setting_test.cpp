// The Options dialog's Prometheus endpoint: the rule its OK applies to the
// address, and the setting as stored beside the records.
#include "testapp/ui/metrics_setting.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "testapp/settings/memory_store.h"
#include "testapp/ui/dialog_rules.h"

namespace quarnex {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(MetricsOption, OkTakesOnlyAnAddressThatCanBeServed) {
  struct Case {
    const char* address;
    bool kept;
  };
  const Case cases[] = {
      {"127.0.0.1:9464", true},
      {"0.0.0.0:0", true},  // port 0: any free port
      {"[::1]:65535", true},
      {"  10.1.2.3:9464\t", true},  // blanks around it are dropped
      {"", false},
      {"localhost:9464", false},  // a name, not an address
      {"127.0.0.1", false},       // no port
      {"127.0.0.1:", false},
      {"127.0.0.1:65536", false},
      {"127.0.0.1:-1", false},
      {"127.0.0.1:94 64", false},
      {"::1:9464", false},  // IPv6 without brackets
      {"[::1]", false},
      {"256.0.0.1:9464", false},
      {"http://127.0.0.1:9464", false},
  };
  for (const Case& c : cases) {
    // Checked or not: what is stored must be servable when the box is
    // checked later.
    for (const bool serve : {true, false}) {
      const std::vector<FieldProblem> problems = CheckMetricsOption({serve, c.address});
      if (c.kept) {
        EXPECT_TRUE(problems.empty()) << c.address;
        continue;
      }
      ASSERT_EQ(problems.size(), 1u) << c.address;
      EXPECT_EQ(problems[0].field, kFieldMetricsAddress);
      // The word beside the field says what it takes.
      EXPECT_NE(problems[0].text.find("ADDRESS:PORT such as 127.0.0.1:9464"), std::string::npos)
          << problems[0].text;
    }
  }
  EXPECT_EQ(ReadMetricsFields({true, " [::1]:9464 "}), (MetricsSetting{true, "[::1]:9464"}));
  EXPECT_EQ(ReadMetricsFields({false, "0.0.0.0:9100"}), (MetricsSetting{false, "0.0.0.0:9100"}));
}

TEST(MetricsSettingStore, OffByDefaultAndReadsBackAsStored) {
  MemoryStore store;
  EXPECT_EQ(LoadMetricsSetting(store), (MetricsSetting{false, "127.0.0.1:9464"}));

  store.PutU32("Left", 30);
  for (const MetricsSetting& setting :
       {MetricsSetting{true, "0.0.0.0:9100"}, MetricsSetting{false, "[::1]:0"}}) {
    ASSERT_TRUE(SaveMetricsSetting(store, setting));
    EXPECT_EQ(LoadMetricsSetting(store), setting);
  }
  std::vector<uint8_t> address;
  ASSERT_TRUE(store.GetBinary("MetricsAddress", &address));
  EXPECT_EQ(address, Bytes("[::1]:0"));
  uint32_t left = 0;
  EXPECT_TRUE(store.GetU32("Left", &left) && left == 30);

  store.SetAvailable(false);
  EXPECT_FALSE(SaveMetricsSetting(store, MetricsSetting{true, "127.0.0.1:1"}));
}

TEST(MetricsSettingStore, ADamagedValueIsNotBelieved) {
  const MetricsSetting off;
  struct Case {
    const char* name;
    std::vector<uint8_t> address;  // empty: none stored
    bool address_as_number;
    uint32_t serve;
    MetricsSetting expected;
  };
  const Case cases[] = {
      {"no address", {}, false, 1, off},
      {"address not an address", Bytes("rack-1:9464"), false, 1, off},
      {"address cut", Bytes("127.0.0.1:"), false, 1, off},
      {"address with a zero byte", Bytes(std::string("127.0.0.1\0:9464", 15)), false, 1, off},
      {"address too long", Bytes("127.0.0.1:9464" + std::string(60, ' ')), false, 1, off},
      {"address stored as a number", {}, true, 1, off},
      {"switch neither 0 nor 1", Bytes("10.0.0.1:9464"), false, 7, {false, "10.0.0.1:9464"}},
      {"switch on", Bytes("10.0.0.1:9464"), false, 1, {true, "10.0.0.1:9464"}},
  };
  for (const Case& c : cases) {
    MemoryStore store;
    if (!c.address.empty()) store.PutBinary("MetricsAddress", c.address);
    if (c.address_as_number) store.PutU32("MetricsAddress", 9464);
    store.PutU32("ServeMetrics", c.serve);
    EXPECT_EQ(LoadMetricsSetting(store), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace quarnex
