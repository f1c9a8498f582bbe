#include "testapp/engine/line_status.h"

#include <array>

#include "testapp/engine/run_context.h"
#include "testapp/engine/run_controller.h"
#include "testapp/report/results_view.h"
#include "testapp/settings/settings_state.h"

namespace quarnex {

namespace {

struct LineErrorText {
  uint32_t flag;
  const char* text;
  LineErrorKind kind;
};

// In the order the texts are appended. Only the first four carry a trailing
// ", ", so a text is the plain concatenation of the set flags' texts.
constexpr std::array<LineErrorText, kLineErrorKindCount> kLineErrorTexts = {{
    {kCeBreak, "Break detected, ", kLineBreak},
    {kCeFrame, "Framing error, ", kLineFraming},
    {kCeOverrun, "Overrun error, ", kLineOverrun},
    {kCeRxOver, "Receive buffer overflow, ", kLineRxOverflow},
    {kCeRxParity, "Parity error", kLineParity},
    {kCeTxFull, "Tx buffer full", kLineTxFull},
}};

// Adds one to the kind of each flag of the table set in `mask`. The caller
// is the counters' one writer, so a load and a store suffice.
void CountLineErrors(uint32_t mask, std::array<std::atomic<int64_t>, kLineErrorKindCount>& counts) {
  for (const LineErrorText& entry : kLineErrorTexts) {
    if ((mask & entry.flag) == 0) continue;
    std::atomic<int64_t>& count = counts[entry.kind];
    count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  }
}

}  // namespace

std::string LineStatusText(uint32_t mask) {
  std::string text;
  for (const LineErrorText& entry : kLineErrorTexts) {
    if ((mask & entry.flag) != 0) text += entry.text;
  }
  return text;
}

void ReportLineStatus(const RunContext& context, Device* device, int row,
                      std::array<std::atomic<int64_t>, kLineErrorKindCount>* counts) {
  if (device == nullptr) return;
  uint32_t mask = 0;
  uint32_t error = 0;
  // A failed query is dropped: line errors are a report, not a verdict.
  if (!device->ClearCommError(&mask, &error)) return;
  // After Stop the rows show the stop's snapshot: errors found later are
  // neither counted nor shown, so the row's text and the counts agree.
  if (mask == 0 || context.run.StopFlag.load() != 0) return;
  if (counts != nullptr) CountLineErrors(mask, *counts);
  const std::string text = LineStatusText(mask);
  if (text.empty()) return;
  // Receive only shows them in the time column, where the next row refresh
  // overwrites them.
  const int column =
      context.settings.Test.Mode == kReceiveOnly ? kColumnTime : kColumnLastCommError;
  context.View().SetCell(row, column, text);
}

}  // namespace quarnex
