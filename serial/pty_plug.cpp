#include "serial/pty_plug.h"

#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "serial/tty_ports.h"

namespace quarnex {

namespace {

namespace fs = std::filesystem;

constexpr size_t kChunkSize = 16 * 1024;
// The master reports a hang-up only when no descriptor of the slave is
// open, which the plug's own prevents; should it happen anyway, the thread
// looks again this much later instead of spinning on it.
constexpr int kHangUpRetryMs = 10;

// Removes a link that leads nowhere. Done before the plug opens its own
// pseudo-terminal, which may get the number the link names.
void RemoveDanglingLink(const fs::path& link) {
  std::error_code error;
  if (fs::is_symlink(fs::symlink_status(link, error)) && !fs::exists(link, error)) {
    fs::remove(link, error);
  }
}

}  // namespace

PtyPlug::PtyPlug(const PtyPlugOptions& options, std::string link_path)
    : options_(options),
      link_path_(std::move(link_path)),
      ring_(std::max<size_t>(options.buffer_size, 1)),
      chunk_(kChunkSize) {}

std::unique_ptr<PtyPlug> PtyPlug::Create(const std::string& dir, int port,
                                         const PtyPlugOptions& options, std::string* problem) {
  std::string ignored;
  if (problem == nullptr) problem = &ignored;
  problem->clear();
  const fs::path link = fs::path(dir) / TtyLinkName(port);
  RemoveDanglingLink(link);
  std::unique_ptr<PtyPlug> plug(new PtyPlug(options, link.string()));
  if (!plug->pty_.Open()) {
    *problem = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    return nullptr;
  }
  plug->stop_.Reset(eventfd(0, EFD_CLOEXEC));
  if (!plug->stop_.valid()) {
    *problem = std::string("cannot make an eventfd: ") + std::strerror(errno);
    return nullptr;
  }
  std::error_code error;
  fs::create_symlink(plug->pty_.slave_path, link, error);
  if (error) {
    *problem = "cannot link " + link.string() + ": " + error.message();
    return nullptr;
  }
  plug->linked_ = true;
  plug->thread_ = std::thread(&PtyPlug::Run, plug.get());
  return plug;
}

PtyPlug::~PtyPlug() { Vanish(); }

void PtyPlug::Vanish() {
  std::lock_guard<std::mutex> lock(life_mu_);
  if (vanished_.load()) return;
  StopThread();
  // Only while the pseudo-terminal is still open is its name surely ours: a
  // link that leads to it is this plug's, and one that leads elsewhere was
  // replaced by someone else and stays.
  std::error_code error;
  if (linked_ && fs::read_symlink(link_path_, error) == pty_.slave_path) {
    fs::remove(link_path_, error);
  }
  pty_.master.Reset();
  pty_.slave.Reset();
  vanished_.store(true);
}

void PtyPlug::StopThread() {
  if (!thread_.joinable()) return;
  const uint64_t one = 1;
  // A counter that is already non-zero wakes the thread just as well.
  [[maybe_unused]] const ssize_t n = write(stop_.get(), &one, sizeof(one));
  thread_.join();
}

PtyPlugCounters PtyPlug::counters() const {
  PtyPlugCounters c;
  c.received = received_.load();
  c.passed = passed_.load();
  c.dropped = dropped_.load();
  c.flipped = flipped_.load();
  return c;
}

std::vector<uint64_t> PtyPlug::dropped_offsets() const {
  std::lock_guard<std::mutex> lock(offsets_mu_);
  return dropped_offsets_;
}

std::vector<uint64_t> PtyPlug::flipped_offsets() const {
  std::lock_guard<std::mutex> lock(offsets_mu_);
  return flipped_offsets_;
}

void PtyPlug::Run() {
  const int master = pty_.master.get();
  for (;;) {
    pollfd fds[2] = {{stop_.get(), POLLIN, 0}, {master, 0, 0}};
    if (ring_used_ < ring_.size()) fds[1].events |= POLLIN;
    if (ring_used_ > 0) fds[1].events |= POLLOUT;
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;
    bool moved = false;
    if (fds[1].revents & POLLIN) moved = Take();
    // What just came in goes straight back when the port has room: no
    // second trip through poll() for the common case.
    if (ring_used_ > 0) moved = Give() || moved;
    if (!moved && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))) {
      poll(fds, 1, kHangUpRetryMs);
      if (fds[0].revents != 0) return;
    }
  }
}

bool PtyPlug::Take() {
  bool took = false;
  std::vector<uint64_t> dropped_here;
  std::vector<uint64_t> flipped_here;
  uint64_t dropped = 0;
  uint64_t flipped = 0;
  while (ring_used_ < ring_.size()) {
    const size_t room = std::min(ring_.size() - ring_used_, chunk_.size());
    const ssize_t n = read(pty_.master.get(), chunk_.data(), room);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EAGAIN: all read; EIO: no slave open (see Run)
    took = true;
    const uint64_t first = received_.load(std::memory_order_relaxed);
    for (ssize_t i = 0; i < n; ++i) {
      const uint64_t offset = first + static_cast<uint64_t>(i);
      uint8_t byte = chunk_[static_cast<size_t>(i)];
      if (options_.drop_every > 0 && (offset + 1) % options_.drop_every == 0) {
        ++dropped;
        if (options_.keep_offsets) dropped_here.push_back(offset);
        continue;
      }
      if (options_.flip_every > 0 && (offset + 1) % options_.flip_every == 0) {
        byte ^= options_.flip_mask;
        ++flipped;
        if (options_.keep_offsets) flipped_here.push_back(offset);
      }
      ring_[(ring_head_ + ring_used_) % ring_.size()] = byte;
      ++ring_used_;
    }
    received_.store(first + static_cast<uint64_t>(n), std::memory_order_relaxed);
  }
  if (!dropped_here.empty() || !flipped_here.empty()) {
    std::lock_guard<std::mutex> lock(offsets_mu_);
    dropped_offsets_.insert(dropped_offsets_.end(), dropped_here.begin(), dropped_here.end());
    flipped_offsets_.insert(flipped_offsets_.end(), flipped_here.begin(), flipped_here.end());
  }
  // Counted after the offsets are listed, so a reader who sees a count
  // finds as many offsets.
  dropped_.fetch_add(dropped);
  flipped_.fetch_add(flipped);
  return took;
}

bool PtyPlug::Give() {
  bool gave = false;
  while (ring_used_ > 0) {
    const size_t run = std::min(ring_used_, ring_.size() - ring_head_);
    const ssize_t n = write(pty_.master.get(), ring_.data() + ring_head_, run);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EAGAIN: the port's input is full for now
    gave = true;
    ring_head_ = (ring_head_ + static_cast<size_t>(n)) % ring_.size();
    ring_used_ -= static_cast<size_t>(n);
    passed_.fetch_add(static_cast<uint64_t>(n));
  }
  if (ring_used_ == 0) ring_head_ = 0;
  return gave;
}

}  // namespace quarnex
