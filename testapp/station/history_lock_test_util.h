// For the tests of the history (--db): another process's write transaction
// on the file, as a second station or a lab's own script holds it.
#ifndef QUARNEX_STATION_HISTORY_LOCK_TEST_UTIL_H_
#define QUARNEX_STATION_HISTORY_LOCK_TEST_UTIL_H_

#include <sqlite3.h>

#include <string>

namespace quarnex {

// Holds the write lock of the SQLite file at `path` from construction
// until Release or destruction.
class WriterElsewhere {
 public:
  explicit WriterElsewhere(const std::string& path) {
    sqlite3_open(path.c_str(), &db_);
    locked_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~WriterElsewhere() {
    Release();
    sqlite3_close(db_);
  }
  WriterElsewhere(const WriterElsewhere&) = delete;
  WriterElsewhere& operator=(const WriterElsewhere&) = delete;

  bool locked() const { return locked_; }
  void Release() {
    if (locked_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    locked_ = false;
  }

 private:
  sqlite3* db_ = nullptr;
  bool locked_ = false;
};

}  // namespace quarnex

#endif  // QUARNEX_STATION_HISTORY_LOCK_TEST_UTIL_H_
