#include "testapp/engine/port_table.h"

#include <algorithm>
#include <utility>

namespace quarnex {

void OrphanList::Add(OrphanTransfer transfer) {
  std::lock_guard<std::mutex> lock(mu_);
  items_.push_back(std::move(transfer));
}

void OrphanList::Sweep() {
  // Drop the records outside the lock: destroying a record releases its
  // event, which must not happen while another thread of the port waits to
  // add to the list.
  std::vector<OrphanTransfer> finished;
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto still_running = [](const OrphanTransfer& t) {
      return t.record != nullptr &&
             t.record->status.load(std::memory_order_acquire) == kErrorIoIncomplete;
    };
    auto split = std::stable_partition(items_.begin(), items_.end(), still_running);
    finished.assign(std::make_move_iterator(split), std::make_move_iterator(items_.end()));
    items_.erase(split, items_.end());
  }
}

void OrphanList::Clear() {
  std::vector<OrphanTransfer> all;
  {
    std::lock_guard<std::mutex> lock(mu_);
    all.swap(items_);
  }
}

size_t OrphanList::Size() const {
  std::lock_guard<std::mutex> lock(mu_);
  return items_.size();
}

}  // namespace quarnex
