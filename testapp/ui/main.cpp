// quarnex-tester: the line tester's window. The single argument "start"
// begins a run as soon as the window shows. SIGTERM, SIGINT and SIGHUP
// close the window as its close button does, and the program exits with 0.
#include <QApplication>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "testapp/engine/run_context.h"
#include "testapp/settings/qsettings_store.h"
#include "testapp/ui/app_icon.h"
#include "testapp/ui/close_signals.h"
#include "testapp/ui/command_line.h"
#include "testapp/ui/main_window.h"
#include "testapp/wiring/device_backends.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);                     // takes Qt's own options out of argv
  QApplication::setWindowIcon(quarnex::AppIcon());  // message boxes have no owner
  std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const bool auto_start = quarnex::IsAutoStart(arguments);

  quarnex::QSettingsStore store;
  // The settings, slots and outputs of the program's runs; made before the
  // window and gone after it, so it outlives every worker the window joins.
  const auto context = std::make_unique<quarnex::RunContext>();
  // The ports: the device map's devices, QUARNEX_TTY_DIR's links, else the
  // simulated adapter.
  context->devices.SetBackends(quarnex::StandardBackends());
  std::unique_ptr<quarnex::MainWindow> window;
  // Installed before the window exists, so no signal meanwhile kills the
  // program; the callback runs inside app.exec(), once the window is there.
  quarnex::CloseSignals close_signals(
      [&window](int) { quarnex::CloseWindowForSignal(window.get()); });
  window = quarnex::OpenMainWindow(*context, store);
  if (auto_start) QTimer::singleShot(0, window.get(), &quarnex::MainWindow::Start);
  const int code = app.exec();
  window.reset();
  return code;
}
