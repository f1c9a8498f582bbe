#include "testapp/ui/close_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QWidget>
#include <atomic>
#include <cerrno>

namespace quarnex {
namespace {

// Shared with the handler, which may run on any thread: lock-free atomics
// are safe to use there.
std::atomic<int> g_write_fd{-1};
std::atomic<int> g_signals_seen{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr char kSecondSignalText[] = "quarnex-tester: second signal, exiting at once\n";

void OnCloseSignal(int signo) {
  if (g_signals_seen.fetch_add(1) > 0) {
    ssize_t ignored = write(STDERR_FILENO, kSecondSignalText, sizeof(kSecondSignalText) - 1);
    (void)ignored;
    _exit(128 + signo);
  }
  const int saved_errno = errno;
  const unsigned char byte = static_cast<unsigned char>(signo);
  // The pipe is empty at the first signal, so the byte always fits.
  ssize_t ignored = write(g_write_fd.load(), &byte, 1);
  (void)ignored;
  errno = saved_errno;
}

}  // namespace

void CloseWindowForSignal(QWidget* window) {
  if (window != nullptr && QApplication::activeModalWidget() == nullptr) window->close();
  // exit(), not quit(): quit() closes every window first, even from inside
  // a dialog's loop.
  QCoreApplication::exit(0);
}

CloseSignals::CloseSignals(std::function<void(int)> on_signal, QObject* parent)
    : QObject(parent), on_signal_(std::move(on_signal)) {
  if (pipe2(pipe_.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
    pipe_ = {-1, -1};
    return;
  }
  g_signals_seen.store(0);
  g_write_fd.store(pipe_[1]);
  struct sigaction action = {};
  action.sa_handler = OnCloseSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (; installed_ < kCloseSignals.size(); ++installed_) {
    if (sigaction(kCloseSignals[installed_], &action, &previous_[installed_]) != 0) {
      Uninstall();
      return;
    }
  }
  notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &CloseSignals::ReadSignal);
}

CloseSignals::~CloseSignals() { Uninstall(); }

void CloseSignals::Uninstall() {
  // Handlers first: none of ours may write to the pipe once it is closed.
  while (installed_ > 0) {
    --installed_;
    sigaction(kCloseSignals[installed_], &previous_[installed_], nullptr);
  }
  g_write_fd.store(-1);
  delete notifier_;
  notifier_ = nullptr;
  for (int& fd : pipe_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

void CloseSignals::ReadSignal() {
  unsigned char byte = 0;
  if (read(pipe_[0], &byte, 1) != 1 || told_) return;
  told_ = true;
  on_signal_(byte);
}

}  // namespace quarnex
