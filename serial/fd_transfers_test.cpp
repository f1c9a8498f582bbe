#include "serial/fd_transfers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serial/pty_test_util.h"
#include "testapp/platform/test_support.h"

namespace quarnex {
namespace {

// Sanitizer builds run several times slower; waits stretch accordingly.
constexpr int64_t kPatienceMs = 20000;

EventRef NewEvent() { return MakeEvent(Event::Kind::kManualReset); }

// Waits for a transfer that went pending to end; returns how it ended.
IoStatus AwaitResult(const Completion& c) {
  if (WaitAny({c.event.get()}, kPatienceMs) != 0) return IoStatus{kErrorIoIncomplete, 0};
  const uint32_t status = c.status.load(std::memory_order_acquire);
  return IoStatus{status, status == kErrorSuccess ? c.count.load() : 0};
}

// Finishes a transfer whatever its start gave: the end result.
IoStatus Finished(const IoStatus& started, const Completion& c) {
  return started.pending() ? AwaitResult(c) : started;
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

double ProcessCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// A SOCK_SEQPACKET pair keeps message boundaries as N_HDLC does: the framed
// logic runs on it unchanged.
class FramedTransfersTest : public testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    ours_.Reset(fds[0]);
    peer_.Reset(fds[1]);
    SetNonBlocking(ours_.get());
    transfers_ = std::make_unique<FdTransfers>(ours_.get(), FdTransfers::Framing::kFramed);
    ASSERT_TRUE(transfers_->Start(nullptr));
  }
  void TearDown() override { transfers_->Stop(); }

  void PeerSends(const std::string& frame) {
    ASSERT_EQ(send(peer_.get(), frame.data(), frame.size(), 0), static_cast<ssize_t>(frame.size()));
  }

  UniqueFd ours_;
  UniqueFd peer_;
  std::unique_ptr<FdTransfers> transfers_;
};

TEST_F(FramedTransfersTest, OneWriteIsOneFrameAndOneReadTakesOneFrame) {
  Completion w1(NewEvent()), w2(NewEvent());
  ASSERT_TRUE(Finished(transfers_->Write("first", 5, &w1), w1).done());
  ASSERT_TRUE(Finished(transfers_->Write("second!", 7, &w2), w2).done());
  char got[64];
  EXPECT_EQ(recv(peer_.get(), got, sizeof(got), 0), 5);
  EXPECT_EQ(recv(peer_.get(), got, sizeof(got), 0), 7);
  EXPECT_EQ(std::string(got, 7), "second!");

  // Reads started before the frames arrive are served in order, one frame
  // each, however large their buffers.
  char a[64] = {}, b[64] = {};
  Completion r1(NewEvent()), r2(NewEvent());
  EXPECT_TRUE(transfers_->Read(a, sizeof(a), &r1).pending());
  EXPECT_TRUE(transfers_->Read(b, sizeof(b), &r2).pending());
  PeerSends("abc");
  PeerSends("defgh");
  const IoStatus first = AwaitResult(r1);
  const IoStatus second = AwaitResult(r2);
  ASSERT_TRUE(first.done());
  ASSERT_TRUE(second.done());
  EXPECT_EQ(std::string(a, first.count), "abc");
  EXPECT_EQ(std::string(b, second.count), "defgh");
}

TEST_F(FramedTransfersTest, FrameLongerThanTheReadFailsTheReadAndIsDropped) {
  char small[8] = {};
  // A frame that was waiting: the read fails at once or on its way.
  PeerSends("a frame of thirty bytes.......");
  PeerSends("next");
  Completion r1(NewEvent());
  EXPECT_EQ(Finished(transfers_->Read(small, sizeof(small), &r1), r1).error, kErrorMoreData);
  // The frame is gone: the next read gets the next one.
  Completion r2(NewEvent());
  const IoStatus got = Finished(transfers_->Read(small, sizeof(small), &r2), r2);
  ASSERT_TRUE(got.done());
  EXPECT_EQ(std::string(small, got.count), "next");
  // A frame that arrives while the read is pending.
  Completion r3(NewEvent());
  ASSERT_TRUE(transfers_->Read(small, sizeof(small), &r3).pending());
  PeerSends("also far too long for eight");
  EXPECT_EQ(AwaitResult(r3).error, kErrorMoreData);
}

TEST_F(FramedTransfersTest, PurgeDiscardsWaitingFramesOfASocket) {
  PeerSends("stale");
  ASSERT_TRUE(transfers_->Purge(kPurgeAll));
  char got[16];
  Completion r(NewEvent());
  EXPECT_TRUE(transfers_->Read(got, sizeof(got), &r).pending());
  PeerSends("fresh");
  const IoStatus read = AwaitResult(r);
  ASSERT_TRUE(read.done());
  EXPECT_EQ(std::string(got, read.count), "fresh");
}

TEST_F(FramedTransfersTest, PeerGoneFailsPendingTransfersAndLaterOnesAtOnceWithoutSpinning) {
  char got[16];
  Completion r(NewEvent());
  ASSERT_TRUE(transfers_->Read(got, sizeof(got), &r).pending());
  peer_.Reset();
  EXPECT_EQ(AwaitResult(r).error, kErrorDeviceNotConnected);
  EXPECT_TRUE(transfers_->hung_up());
  Completion later(NewEvent());
  EXPECT_EQ(transfers_->Write("x", 1, &later).error, kErrorDeviceNotConnected);
  EXPECT_EQ(transfers_->Read(got, sizeof(got), &later).error, kErrorDeviceNotConnected);
  const double before = ProcessCpuSeconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(ProcessCpuSeconds() - before, 0.1) << "the I/O thread spins on the hang-up";
}

// Stream transfers on a real kernel TTY: the slave side of a pty pair.
class StreamTransfersTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Open());
    SetNonBlocking(pty_.slave.get());
    transfers_ = std::make_unique<FdTransfers>(pty_.slave.get(), FdTransfers::Framing::kStream);
    ASSERT_TRUE(transfers_->Start(nullptr));
  }
  void TearDown() override {
    if (transfers_) transfers_->Stop();
  }

  void MasterSends(const std::string& bytes) {
    ASSERT_EQ(write(pty_.master.get(), bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }

  // Fills the slave's way out until a write pends: nobody reads the master.
  // Returns the pending write's record; its buffer is `payload`.
  void FillOutput(std::vector<uint8_t>* payload, Completion* c) {
    payload->assign(1 << 20, 'x');
    const IoStatus started =
        transfers_->Write(payload->data(), static_cast<uint32_t>(payload->size()), c);
    ASSERT_TRUE(started.pending()) << "a megabyte fits into a pty";
  }

  PtyPair pty_;
  std::unique_ptr<FdTransfers> transfers_;
};

TEST_F(StreamTransfersTest, ReadOfNBytesCompletesOnlyWhenAllNArrived) {
  char got[300] = {};
  Completion r(NewEvent());
  ASSERT_TRUE(transfers_->Read(got, sizeof(got), &r).pending());
  // Larger than VMIN could ask for, in pieces.
  MasterSends(std::string(100, 'a'));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(r.status.load(), kErrorIoIncomplete);
  MasterSends(std::string(150, 'b'));
  MasterSends(std::string(60, 'c'));  // 10 bytes more than the read takes
  const IoStatus read = AwaitResult(r);
  ASSERT_TRUE(read.done());
  EXPECT_EQ(read.count, 300u);
  EXPECT_EQ(std::string(got, 300),
            std::string(100, 'a') + std::string(150, 'b') + std::string(50, 'c'));
  // The rest waits for the next read, which can finish at once.
  Completion next(NewEvent());
  const IoStatus rest = Finished(transfers_->Read(got, 10, &next), next);
  ASSERT_TRUE(rest.done());
  EXPECT_EQ(std::string(got, 10), std::string(10, 'c'));
}

// Whichever comes first, the data or the read, every byte reaches the read
// that asks for it. Data that arrives with no read posted is left unread,
// and the I/O thread stops watching the input until a read wants more than
// waits; the rounds take turns so that it stops and starts again and again.
TEST_F(StreamTransfersTest, InputArrivingBeforeOrAfterItsReadReachesIt) {
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    const bool data_first = round % 2 == 0;
    const std::string head(7, static_cast<char>('a' + round % 26));
    const std::string tail(5, static_cast<char>('A' + round % 26));
    char got[12] = {};
    Completion r(NewEvent());
    if (data_first) {
      MasterSends(head);
      // Time for the I/O thread to see the input arrive unasked; the test
      // holds whether it did or not.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const IoStatus started = transfers_->Read(got, sizeof(got), &r);
    ASSERT_FALSE(started.done()) << "five bytes are still to come";
    if (!data_first) MasterSends(head);
    MasterSends(tail);
    const IoStatus read = Finished(started, r);
    ASSERT_TRUE(read.done());
    ASSERT_EQ(read.count, sizeof(got));
    EXPECT_EQ(std::string(got, sizeof(got)), head + tail);
  }
}

// The thread that waits for a read completes it itself; a read nobody
// waits for, or whose wait gave up before the data came, the I/O thread
// completes.
TEST_F(StreamTransfersTest, PendingReadCompletesWhetherOrNotAThreadWaitsForIt) {
  enum class Wait { kUntilDone, kNone, kGivesUp };
  for (Wait wait : {Wait::kUntilDone, Wait::kNone, Wait::kGivesUp}) {
    SCOPED_TRACE(static_cast<int>(wait));
    char got[8] = {};
    Completion r(NewEvent());
    ASSERT_TRUE(transfers_->Read(got, sizeof(got), &r).pending());
    if (wait == Wait::kGivesUp) {
      EXPECT_EQ(WaitAny({r.event.get()}, 20), kWaitTimeout);
    }
    MasterSends("abcdefgh");
    if (wait == Wait::kUntilDone) {
      ASSERT_TRUE(AwaitResult(r).done());
    } else {
      const auto deadline =
          std::chrono::steady_clock::now() + std::chrono::milliseconds(kPatienceMs);
      while (!r.event->IsSet() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      ASSERT_TRUE(r.event->IsSet());
    }
    EXPECT_EQ(r.status.load(), kErrorSuccess);
    EXPECT_EQ(std::string(got, sizeof(got)), "abcdefgh");
  }
}

// Polls a record nobody waits on until its transfer ended; false when it
// did not within the tests' patience.
bool EndsUnwatched(const Completion& c) {
  return Eventually([&] { return c.event->IsSet(); });
}

// A read nobody waits for is left to the I/O thread's periodic look, not
// to an epoll watch: until it takes the input over, the thread sleeps
// between looks rather than spinning, and once it has, it sees what the
// far end does, data or a hang-up.
TEST_F(StreamTransfersTest, UnwatchedReadIsTakenOverBetweenIdleLooksAndSeesDataOrHangUp) {
  for (bool hang_up : {false, true}) {
    SCOPED_TRACE(hang_up);
    if (hang_up) {
      transfers_->Stop();
      ASSERT_TRUE(pty_.Open());
      SetNonBlocking(pty_.slave.get());
      transfers_ = std::make_unique<FdTransfers>(pty_.slave.get(), FdTransfers::Framing::kStream);
      ASSERT_TRUE(transfers_->Start(nullptr));
    }
    char got[6] = {};
    Completion r(NewEvent());
    ASSERT_TRUE(transfers_->Read(got, sizeof(got), &r).pending());
    const double before = ProcessCpuSeconds();
    std::this_thread::sleep_for(3 * FdTransfers::kUnattendedReadCheck);
    EXPECT_LT(ProcessCpuSeconds() - before, 0.1) << "the I/O thread spins on the pending read";
    EXPECT_EQ(r.status.load(), kErrorIoIncomplete);
    if (hang_up) {
      pty_.master.Reset();
    } else {
      MasterSends("fedcba");
    }
    ASSERT_TRUE(EndsUnwatched(r));
    if (hang_up) {
      EXPECT_EQ(r.status.load(), kErrorDeviceNotConnected);
      EXPECT_TRUE(transfers_->hung_up());
    } else {
      EXPECT_EQ(r.status.load(), kErrorSuccess);
      EXPECT_EQ(std::string(got, sizeof(got)), "fedcba");
    }
  }
}

// The input goes back and forth between the I/O thread (reads nobody
// waits for) and the waits (reads waited for, which take it back), with
// the I/O thread's look put to sleep and woken again in between; every
// byte reaches its own read, in order.
TEST_F(StreamTransfersTest, InputHandedBetweenTheIoThreadAndWaitsLosesNoByte) {
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    const bool waited = round % 2 == 1;
    const std::string bytes(5, static_cast<char>('a' + round));
    char got[5] = {};
    Completion r(NewEvent());
    ASSERT_TRUE(transfers_->Read(got, sizeof(got), &r).pending());
    MasterSends(bytes.substr(0, 2));
    MasterSends(bytes.substr(2));
    if (waited) {
      ASSERT_TRUE(AwaitResult(r).done());
    } else {
      ASSERT_TRUE(EndsUnwatched(r));
      EXPECT_EQ(r.status.load(), kErrorSuccess);
    }
    EXPECT_EQ(std::string(got, sizeof(got)), bytes);
    // No read pending for a whole look: the I/O thread stops looking.
    if (round % 4 == 1) std::this_thread::sleep_for(2 * FdTransfers::kUnattendedReadCheck);
  }
}

// Stop ends a read while a thread waits for it on the descriptor; the
// event keeps the stopped transfers' driver, and a later wait on it (the
// transfers destroyed, their descriptor closed) only times out.
TEST_F(StreamTransfersTest, StopEndsAWaitOnTheDescriptorAndLeavesNothingBehind) {
  char got[8];
  Completion r(NewEvent());
  ASSERT_TRUE(transfers_->Read(got, sizeof(got), &r).pending());
  std::atomic<int> woken{-100};
  std::thread waiter([&] { woken = WaitAny({r.event.get()}, kPatienceMs); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  transfers_->Stop();
  waiter.join();
  EXPECT_EQ(woken.load(), 0);
  EXPECT_EQ(r.status.load(), kErrorOperationAborted);
  transfers_.reset();
  pty_.slave.Reset();
  r.event->Reset();
  EXPECT_EQ(WaitAny({r.event.get()}, 30), kWaitTimeout);
}

TEST_F(StreamTransfersTest, LargeWriteResumesAfterPartialWritesAndCompletesWhenTaken) {
  std::vector<uint8_t> payload(200000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
  Completion w(NewEvent());
  const IoStatus started =
      transfers_->Write(payload.data(), static_cast<uint32_t>(payload.size()), &w);
  std::vector<uint8_t> received;
  uint8_t chunk[4096];
  while (received.size() < payload.size()) {
    pollfd p{pty_.master.get(), POLLIN, 0};
    ASSERT_GT(poll(&p, 1, static_cast<int>(kPatienceMs)), 0);
    const ssize_t n = read(pty_.master.get(), chunk, sizeof(chunk));
    if (n > 0) received.insert(received.end(), chunk, chunk + n);
  }
  const IoStatus written = Finished(started, w);
  ASSERT_TRUE(written.done());
  EXPECT_EQ(written.count, payload.size());
  EXPECT_EQ(received, payload);
}

TEST_F(StreamTransfersTest, PurgeAndStopAbortEveryPendingTransferAndNeverTouchItsBufferAgain) {
  for (bool by_stop : {false, true}) {
    SCOPED_TRACE(by_stop);
    auto read_buffer = std::make_unique<char[]>(64);
    std::vector<uint8_t> payload;
    Completion r(NewEvent()), w(NewEvent()), w2(NewEvent());
    ASSERT_TRUE(transfers_->Read(read_buffer.get(), 64, &r).pending());
    FillOutput(&payload, &w);
    ASSERT_TRUE(transfers_->Write(payload.data(), 16, &w2).pending());
    if (by_stop) {
      transfers_->Stop();
    } else {
      ASSERT_TRUE(transfers_->Purge(kPurgeAll));
    }
    for (const Completion* c : {&r, &w, &w2}) {
      EXPECT_TRUE(c->event->IsSet());
      EXPECT_EQ(c->status.load(), kErrorOperationAborted);
    }
    // Freed at once: a late copy into the read buffer or out of the write
    // buffer is a use after free under AddressSanitizer.
    read_buffer.reset();
    payload.clear();
    payload.shrink_to_fit();
    MasterSends(std::string(64, 'z'));
    std::vector<char> drain(1 << 16);
    while (read(pty_.master.get(), drain.data(), drain.size()) > 0) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    // Purge flushed the input, so new data is what the next read sees.
    if (!by_stop) {
      char fresh[4];
      Completion next(NewEvent());
      const IoStatus started = transfers_->Read(fresh, sizeof(fresh), &next);
      // The 64 bytes sent after the purge are there now.
      const IoStatus read = Finished(started, next);
      ASSERT_TRUE(read.done());
      EXPECT_EQ(std::string(fresh, 4), "zzzz");
      ASSERT_TRUE(transfers_->Purge(kPurgeAll));
    }
  }
  Completion after(NewEvent());
  char b[4];
  EXPECT_EQ(transfers_->Read(b, 4, &after).error, kErrorInvalidHandle);
  EXPECT_FALSE(transfers_->Purge(kPurgeAll));
}

TEST_F(StreamTransfersTest, PurgeRacingArrivingDataNeverWritesAnAbortedBuffer) {
  // The master sends all the time while reads start and are purged; every
  // read buffer is freed right after the purge.
  std::atomic<bool> stop{false};
  std::thread sender([&] {
    const std::string bytes(37, 'q');
    while (!stop.load()) {
      [[maybe_unused]] const ssize_t n = write(pty_.master.get(), bytes.data(), bytes.size());
      std::this_thread::yield();
    }
  });
  for (int i = 0; i < 300; ++i) {
    auto buffer = std::make_unique<uint8_t[]>(4096);
    auto record = std::make_unique<Completion>(NewEvent());
    const IoStatus started = transfers_->Read(buffer.get(), 4096, record.get());
    ASSERT_TRUE(started.pending() || started.done()) << started.error;
    ASSERT_TRUE(transfers_->Purge(kPurgeTxAbort | kPurgeRxAbort | kPurgeRxClear));
    const uint32_t status = record->status.load();
    EXPECT_TRUE(status == kErrorOperationAborted || status == kErrorSuccess) << status;
  }
  stop.store(true);
  sender.join();
}

TEST_F(StreamTransfersTest, MasterClosedHangsUpPendingTransfersWithoutSpinning) {
  char got[16];
  Completion r(NewEvent()), w(NewEvent());
  ASSERT_TRUE(transfers_->Read(got, sizeof(got), &r).pending());
  std::vector<uint8_t> payload;
  FillOutput(&payload, &w);
  pty_.master.Reset();
  EXPECT_EQ(AwaitResult(r).error, kErrorDeviceNotConnected);
  EXPECT_EQ(AwaitResult(w).error, kErrorDeviceNotConnected);
  EXPECT_TRUE(transfers_->hung_up());
  Completion later(NewEvent());
  EXPECT_EQ(transfers_->Write("x", 1, &later).error, kErrorDeviceNotConnected);
  EXPECT_EQ(transfers_->Read(got, sizeof(got), &later).error, kErrorDeviceNotConnected);
  EXPECT_FALSE(later.event->IsSet()) << "a transfer failed at once signals nothing";
  EXPECT_TRUE(transfers_->Purge(kPurgeAll));
  const double before = ProcessCpuSeconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(ProcessCpuSeconds() - before, 0.1) << "the I/O thread spins on the hang-up";
}

}  // namespace
}  // namespace quarnex
