// Line status reporting: shows the line errors a port saw since the last
// query in its row. Runs on the port's reader thread.
#ifndef QUARNEX_ENGINE_LINE_STATUS_H_
#define QUARNEX_ENGINE_LINE_STATUS_H_

#include <cstdint>
#include <string>

#include "testapp/driver/device.h"

namespace quarnex {

// The text for a line-error mask: the texts of the set flags in table order,
// empty when no flag of the table is set.
std::string LineStatusText(uint32_t mask);

// Queries and clears the device's line errors and, when any flag of the
// table was set, writes their text into column 3 (Receive only) or column 5
// of `row`. A null device or a failed query writes nothing.
void ReportLineStatus(Device* device, int row);

}  // namespace quarnex

#endif  // QUARNEX_ENGINE_LINE_STATUS_H_
