// Line status reporting: shows the line errors a port saw since the last
// query in its row. Runs on the port's reader thread.
#ifndef QUARNEX_ENGINE_LINE_STATUS_H_
#define QUARNEX_ENGINE_LINE_STATUS_H_

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "testapp/driver/device.h"
#include "testapp/engine/run_context.h"
#include "testapp/report/port_counters.h"

namespace quarnex {

// The text for a line-error mask: the texts of the set flags in table order,
// empty when no flag of the table is set.
std::string LineStatusText(uint32_t mask);

// Queries and clears the device's line errors and, when any flag of the
// table was set, writes their text into column 3 (Receive only) or column 5
// of `row` of the view of `context`, the run the port belongs to. A null device or a failed query
// writes nothing. When `counts` is given (the port's LineErrorCount), each flag of the table that
// was set adds 1 to its kind; only the calling thread may write them. Once
// the run's StopFlag is set the errors are cleared and dropped: the rows
// then show the stop's snapshot.
void ReportLineStatus(const RunContext& context, Device* device, int row,
                      std::array<std::atomic<int64_t>, kLineErrorKindCount>* counts = nullptr);

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_LINE_STATUS_H_
