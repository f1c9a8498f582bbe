// A table as comma-separated values, for a spreadsheet.
#ifndef QUARNEX_REPORT_CSV_TABLE_H_
#define QUARNEX_REPORT_CSV_TABLE_H_

#include <string>
#include <string_view>
#include <vector>

namespace quarnex {

// One field: as it is, or in double quotes (a quote doubled) when it holds
// a comma, a quote, a line break or leading or trailing blanks.
std::string CsvField(std::string_view text);

// A header line of `headers`, then a line per row, each ended by CR LF. A
// row shorter than the header gets empty fields; a longer one keeps all.
std::string CsvTable(const std::vector<std::string>& headers,
                     const std::vector<std::vector<std::string>>& rows);

}  // namespace quarnex

#endif  // QUARNEX_REPORT_CSV_TABLE_H_
