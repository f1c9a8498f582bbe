#include "testapp/station/cell_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace quarnex {
namespace {

// Workers on unpaced lines refresh their rows without pause; Start must
// still get to insert the next ports' rows (a reader-first lock kept it
// waiting for ever, and the run never began).
TEST(CellStoreTest, StartInsertsRowsWhileWorkersRefreshTheirsWithoutPause) {
  CellStore store;
  store.InsertRow(0, "Quarnex01");
  std::atomic<bool> stop{false};
  std::vector<std::thread> workers;
  for (int i = 0; i < 8; ++i) {
    workers.emplace_back([&] {
      while (!stop.load()) store.SetCell(0, kColumnPackets, "1");
    });
  }
  constexpr int kRows = 50;
  std::atomic<bool> inserted{false};
  std::thread start([&] {
    for (int n = 1; n < kRows; ++n) store.InsertRow(n, "Quarnex");
    inserted.store(true);
  });
  // Liveness, not speed: the patience is far beyond any machine's delay.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!inserted.load() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const bool in_time = inserted.load();
  stop.store(true);
  for (std::thread& worker : workers) worker.join();
  start.join();
  EXPECT_TRUE(in_time) << "inserting the rows starved behind the workers";
  EXPECT_EQ(store.Rows().size(), static_cast<size_t>(kRows));
  EXPECT_EQ(store.Rows()[0].cells[kColumnPackets], "1");
}

}  // namespace
}  // namespace quarnex
