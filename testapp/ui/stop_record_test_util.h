// Reading the log in the window's tests: which ports the last stop record
// lists.
#ifndef QUARNEX_UI_STOP_RECORD_TEST_UTIL_H_
#define QUARNEX_UI_STOP_RECORD_TEST_UTIL_H_

#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace quarnex {

// The "[COMn]" headers between the log's last start and stop records, in
// order; {"no stop record"} when the log has no such pair.
inline QStringList LastStopRecordPorts(const QString& log) {
  const qsizetype stop = log.lastIndexOf(">>> TEST STOP");
  const qsizetype start = log.lastIndexOf(">>> TEST START", stop);
  if (stop < 0 || start < 0) return {"no stop record"};
  QStringList ports;
  static const QRegularExpression kHeader("\\[COM\\d+\\]");
  for (const QRegularExpressionMatch& m : kHeader.globalMatch(log.mid(start, stop - start))) {
    ports << m.captured();
  }
  return ports;
}

}  // namespace quarnex

#endif  // QUARNEX_UI_STOP_RECORD_TEST_UTIL_H_
