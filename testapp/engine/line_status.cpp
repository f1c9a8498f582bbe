#include "testapp/engine/line_status.h"

#include <array>

#include "testapp/engine/run_controller.h"
#include "testapp/report/results_view.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {

namespace {

struct LineErrorText {
  uint32_t flag;
  const char* text;
};

// In the order the texts are appended. Only the first four carry a trailing
// ", ", so a text is the plain concatenation of the set flags' texts.
constexpr std::array<LineErrorText, 6> kLineErrorTexts = {{
    {kCeBreak, "Break detected, "},
    {kCeFrame, "Framing error, "},
    {kCeOverrun, "Overrun error, "},
    {kCeRxOver, "Receive buffer overflow, "},
    {kCeRxParity, "Parity error"},
    {kCeTxFull, "Tx buffer full"},
}};

}  // namespace

std::string LineStatusText(uint32_t mask) {
  std::string text;
  for (const LineErrorText& entry : kLineErrorTexts) {
    if ((mask & entry.flag) != 0) text += entry.text;
  }
  return text;
}

void ReportLineStatus(Device* device, int row) {
  if (device == nullptr) return;
  uint32_t mask = 0;
  uint32_t error = 0;
  // A failed query is dropped: line errors are a report, not a verdict.
  if (!device->ClearCommError(&mask, &error)) return;
  if (mask == 0) return;
  const std::string text = LineStatusText(mask);
  if (text.empty()) return;
  // Receive only shows them in the time column, where the next row refresh
  // overwrites them.
  const int column = GlobalSettings().Test.Mode == kReceiveOnly ? kColumnTime : kColumnLastCommError;
  EngineView().SetCell(row, column, text);
}

}  // namespace quarnex
