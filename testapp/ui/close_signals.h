// CloseSignals and CloseWindowForSignal: SIGTERM, SIGINT and SIGHUP end the
// window program as its close button does, so a session that ends or a kill
// from a script loses neither the stop record nor the settings.
//
// The handler only writes the signal's number into a pipe, which is
// async-signal-safe from whichever thread the kernel picks; a
// QSocketNotifier reads the pipe on the thread that owns this object (the
// user-interface thread) and runs the callback there as ordinary code. A
// second signal means whoever sent it will not wait for the close (which
// joins the workers): the handler then ends the process at once with status
// 128 + its number, writing nothing but one line to standard error.
//
// Process-wide, as signal handlers are: at most one CloseSignals exists at a time. Create and
// destroy it on the user-interface thread, after the QCoreApplication.
#ifndef QUARNEX_UI_CLOSE_SIGNALS_H_
#define QUARNEX_UI_CLOSE_SIGNALS_H_

#include <signal.h>

#include <QObject>
#include <QSocketNotifier>
#include <array>
#include <functional>

class QWidget;

namespace quarnex {

// The signals that close the window.
inline constexpr std::array<int, 3> kCloseSignals = {SIGTERM, SIGINT, SIGHUP};

// What a close signal does to the program's `window` (may be null), on the
// user-interface thread inside QApplication::exec(): closes it as its close
// button does and ends the event loop. While a modal dialog runs its own
// loop inside a command (Start shows its errors from inside the port loop),
// closing the window would stop the run under the command's feet: then it
// only ends every loop, the command finishes, exec() returns, and the
// window's owner closes it (MainWindow's destructor runs the same steps).
void CloseWindowForSignal(QWidget* window);

class CloseSignals : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers. `on_signal` runs once, for the first signal, on
  // this object's thread, with the signal's number. When the pipe or a
  // handler cannot be set up, ok() is false and the signals keep the
  // handling they had.
  explicit CloseSignals(std::function<void(int signo)> on_signal, QObject* parent = nullptr);
  // Puts back the handling the signals had before, then closes the pipe.
  ~CloseSignals() override;
  CloseSignals(const CloseSignals&) = delete;
  CloseSignals& operator=(const CloseSignals&) = delete;

  bool ok() const { return notifier_ != nullptr; }

 private:
  void ReadSignal();
  // Puts back the previous handling and closes the pipe; harmless twice.
  void Uninstall();

  std::function<void(int)> on_signal_;
  std::array<int, 2> pipe_ = {-1, -1};  // read end, write end
  std::array<struct sigaction, kCloseSignals.size()> previous_ = {};
  size_t installed_ = 0;  // leading entries of kCloseSignals with a handler of ours
  QSocketNotifier* notifier_ = nullptr;
  bool told_ = false;
};

}  // namespace quarnex

#endif  // QUARNEX_UI_CLOSE_SIGNALS_H_
