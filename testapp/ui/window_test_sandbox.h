// The window tests' sandbox: each test runs in a temporary folder of its
// own, with quarnex.cfg written there and a fresh settings store.
#ifndef QUARNEX_UI_WINDOW_TEST_SANDBOX_H_
#define QUARNEX_UI_WINDOW_TEST_SANDBOX_H_

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "testapp/settings/memory_store.h"

namespace quarnex {

// Writes `text` as quarnex.cfg in the current folder; false when it cannot.
inline bool WriteConfigFile(const char* text) {
  QFile config("quarnex.cfg");
  if (!config.open(QIODevice::WriteOnly)) return false;
  const bool written = config.write(text) >= 0;
  config.close();
  return written;
}

class WindowTestSandbox {
 public:
  // Makes the folder, makes it current and writes `config` there as
  // quarnex.cfg; false when any step fails.
  bool Enter(const char* config) {
    dir_ = std::make_unique<QTemporaryDir>();
    store_ = std::make_unique<MemoryStore>();
    if (!dir_->isValid()) return false;
    previous_dir_ = QDir::currentPath();
    return QDir::setCurrent(dir_->path()) && WriteConfigFile(config);
  }
  // Goes back to the folder the test came from and removes the sandbox.
  void Leave() {
    if (!previous_dir_.isEmpty()) QDir::setCurrent(previous_dir_);
    dir_.reset();
  }
  MemoryStore& Store() { return *store_; }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  QString previous_dir_;
  std::unique_ptr<MemoryStore> store_;
};

}  // namespace quarnex

#endif  // QUARNEX_UI_WINDOW_TEST_SANDBOX_H_
