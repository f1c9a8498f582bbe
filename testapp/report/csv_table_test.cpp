#include "testapp/report/csv_table.h"

#include <gtest/gtest.h>

namespace quarnex {
namespace {

TEST(CsvTableTest, QuotesOnlyWhatNeedsIt) {
  const std::pair<const char*, const char*> cases[] = {
      {"Quarnex01", "Quarnex01"},
      {"1.2 3.4 5.6 (99%)", "1.2 3.4 5.6 (99%)"},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\nlines", "\"two\nlines\""},
      {" padded ", "\" padded \""},
      {"", ""},
  };
  for (const auto& [text, field] : cases) EXPECT_EQ(CsvField(text), field) << text;
}

TEST(CsvTableTest, HeaderThenRowsWithCrLf) {
  EXPECT_EQ(
      CsvTable({"Port", "Packets", "Status"}, {{"Quarnex01", "12", "Success"}, {"Quarnex02"}}),
      "Port,Packets,Status\r\nQuarnex01,12,Success\r\nQuarnex02,,\r\n");
  EXPECT_EQ(CsvTable({"A"}, {}), "A\r\n");
}

}  // namespace
}  // namespace quarnex
