#include "bench/relay/pty_relay.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <system_error>
#include <vector>

namespace quarnex {

namespace {

constexpr size_t kChunkSize = 4096;
// The masters report a hang-up only while no descriptor of their slave is
// open, which the relay's own prevent; should it happen anyway, the thread
// looks again this much later instead of spinning on it.
constexpr int kHangUpRetryMs = 10;
// A master that could not take more is tried again this often: a
// pseudo-terminal master does not always report POLLOUT once its slave
// has read what filled it.
constexpr int64_t kFullRetryNs = 1000000;

int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

timespec ToTimespec(int64_t ns) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  return ts;
}

}  // namespace

PtyRelay::PtyRelay(const PtyRelayOptions& options)
    : options_(options),
      burst_bytes_(std::max<uint64_t>(
          1, static_cast<uint64_t>(options.burst.count()) *
                 std::max<uint32_t>(options.bit_rate, 1) /
                 (std::max<uint32_t>(options.bits_per_character, 1) * 1000000000ull))),
      line_(options.bit_rate, options.bits_per_character,
            std::max<size_t>(options.buffer_size, 1)) {}

std::unique_ptr<PtyRelay> PtyRelay::Create(const PtyRelayOptions& options, std::string* problem) {
  std::string ignored;
  if (problem == nullptr) problem = &ignored;
  problem->clear();
  if (options.bit_rate == 0 || options.bits_per_character == 0) {
    *problem = "a paced line needs a bit rate and a character size";
    return nullptr;
  }
  std::unique_ptr<PtyRelay> relay(new PtyRelay(options));
  if (!relay->port_.Open() || !relay->far_.Open()) {
    *problem = std::string("cannot open a pseudo-terminal pair: ") + std::strerror(errno);
    return nullptr;
  }
  relay->stop_.Reset(eventfd(0, EFD_CLOEXEC));
  if (!relay->stop_.valid()) {
    *problem = std::string("cannot make an eventfd: ") + std::strerror(errno);
    return nullptr;
  }
  try {
    relay->thread_ = std::thread(&PtyRelay::Run, relay.get());
  } catch (const std::system_error& e) {
    *problem = std::string("cannot start the relay's thread: ") + e.what();
    return nullptr;
  }
  return relay;
}

PtyRelay::~PtyRelay() { Stop(); }

void PtyRelay::Stop() {
  std::lock_guard<std::mutex> lock(stop_mu_);
  if (!thread_.joinable()) return;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(stop_.get(), &one, sizeof(one));
  thread_.join();
}

PtyRelayCounters PtyRelay::counters() const {
  PtyRelayCounters c;
  // busy_ns_ is stored before passed_ (Publish), so a reader never sees
  // bytes without the time they took.
  c.passed = passed_.load(std::memory_order_acquire);
  c.busy_ns = busy_ns_.load(std::memory_order_acquire);
  c.returned = returned_.load(std::memory_order_acquire);
  return c;
}

void PtyRelay::Publish() {
  const PacedLine::Counters c = line_.counters();
  busy_ns_.store(c.busy_ns, std::memory_order_release);
  passed_.store(c.passed, std::memory_order_release);
}

bool PtyRelay::ReleaseCrossed(int64_t now) {
  uint8_t chunk[kChunkSize];
  for (;;) {
    const size_t crossed = line_.Crossed(now);
    if (crossed == 0) return true;
    const size_t n = line_.Waiting(chunk, std::min(crossed, sizeof(chunk)));
    const ssize_t written = write(far_.master.get(), chunk, n);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;  // EAGAIN: B's slave cannot take more now
    line_.Released(now, static_cast<size_t>(written));
    Publish();
  }
}

bool PtyRelay::PassBack() {
  while (back_head_ < back_.size()) {
    const ssize_t written =
        write(port_.master.get(), back_.data() + back_head_, back_.size() - back_head_);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;  // EAGAIN: the port's input is full for now
    back_head_ += static_cast<size_t>(written);
    returned_.fetch_add(static_cast<uint64_t>(written), std::memory_order_release);
  }
  back_.clear();
  back_head_ = 0;
  return true;
}

void PtyRelay::Run() {
  // Wake-ups on time: the default timer slack (50 us) would hold back
  // every release, the packet's last byte too.
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  const int a = port_.master.get();
  const int b = far_.master.get();
  uint8_t chunk[kChunkSize];
  for (;;) {
    // What crossed is released, and the next wake-up reckoned, at one and
    // the same moment: a byte that crosses in between is never left
    // waiting for a wake-up that nothing asked for.
    const int64_t now = NowNs();
    const bool b_full = !ReleaseCrossed(now);
    const bool a_full = !PassBack();
    int64_t wait = -1;
    const int64_t wake = line_.NextWake(now, burst_bytes_);
    if (wake >= 0) wait = std::max<int64_t>(wake - now, 0);
    if (a_full || b_full) wait = wait < 0 ? kFullRetryNs : std::min(wait, kFullRetryNs);
    timespec timeout;
    timespec* timeout_ptr = nullptr;
    if (wait >= 0) {
      timeout = ToTimespec(wait);
      timeout_ptr = &timeout;
    }

    pollfd fds[3] = {{stop_.get(), POLLIN, 0}, {a, 0, 0}, {b, 0, 0}};
    if (line_.room() > 0) fds[1].events |= POLLIN;
    if (a_full) fds[1].events |= POLLOUT;
    if (back_.size() < options_.buffer_size) fds[2].events |= POLLIN;
    if (b_full) fds[2].events |= POLLOUT;
    if (ppoll(fds, 3, timeout_ptr, nullptr) < 0 && errno != EINTR) return;
    if (fds[0].revents != 0) return;
    bool took = false;
    if (fds[1].revents & POLLIN) {
      const ssize_t n = read(a, chunk, std::min(line_.room(), sizeof(chunk)));
      if (n > 0) {
        line_.Push(NowNs(), chunk, static_cast<size_t>(n));
        took = true;
      }
    }
    if (fds[2].revents & POLLIN) {
      const size_t room = options_.buffer_size - back_.size();
      const ssize_t n = read(b, chunk, std::min(room, sizeof(chunk)));
      if (n > 0) {
        back_.insert(back_.end(), chunk, chunk + n);
        took = true;
      }
    }
    const short hang_up = POLLHUP | POLLERR | POLLNVAL;
    if (!took && ((fds[1].revents | fds[2].revents) & hang_up)) {
      poll(fds, 1, kHangUpRetryMs);
      if (fds[0].revents != 0) return;
    }
  }
}

}  // namespace quarnex
