#include "testapp/report/csv_table.h"

#include <algorithm>

namespace quarnex {
namespace {

void AppendLine(std::string* out, const std::vector<std::string>& fields, size_t width) {
  for (size_t i = 0; i < std::max(width, fields.size()); ++i) {
    if (i > 0) *out += ',';
    if (i < fields.size()) *out += CsvField(fields[i]);
  }
  *out += "\r\n";
}

}  // namespace

std::string CsvField(std::string_view text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                     (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return std::string(text);
  std::string field = "\"";
  for (char c : text) {
    if (c == '"') field += '"';
    field += c;
  }
  field += '"';
  return field;
}

std::string CsvTable(const std::vector<std::string>& headers,
                     const std::vector<std::vector<std::string>>& rows) {
  std::string out;
  AppendLine(&out, headers, headers.size());
  for (const std::vector<std::string>& row : rows) AppendLine(&out, row, headers.size());
  return out;
}

}  // namespace quarnex
