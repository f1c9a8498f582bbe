// Events: the stand-in for the kernel's event objects.
//
// An Event is either manual-reset (stays signalled until Reset) or
// auto-reset (the one wait that returns it consumes the signal). WaitAny
// waits for the first of several events. All operations are thread-safe.
// Events that several threads use are held through EventRef (shared
// ownership), so no thread ever waits on or signals a destroyed event.
//
// Each thread keeps what its waits reuse (its wake timer, its epoll set,
// how long its waits take) in thread-locals of event.cpp: they belong to
// the waiting thread, whoever's run it serves, and making them at every
// wait would cost more than a fast line's packet.
#ifndef QUARNEX_PLATFORM_EVENT_H_
#define QUARNEX_PLATFORM_EVENT_H_

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>

namespace quarnex {

struct Waiter;

// Work a waiting thread can do itself. A device whose transfers complete on
// a file descriptor lends it to the waits on their events: such a wait
// sleeps on the descriptor as well as on its events, and calls
// Advance() when the descriptor shows something, so the transfer completes
// on the waiting thread and no second thread has to wake it (on a fast line
// that wake-up costs more than the packet's own work). While a wait watches
// the descriptor (BeginWatch .. EndWatch) the device's own thread need not.
//
// Every method may be called from any thread at any time, also after the
// device stopped; the driver then does nothing.
class EventDriver {
 public:
  // The descriptor to watch for input. Fixed for the driver's life.
  virtual int fd() const = 0;
  virtual void BeginWatch() = 0;
  virtual void EndWatch() = 0;
  // Moves the device's transfers on without blocking; may signal events.
  // False when the descriptor is not worth watching any more (the device
  // stopped or hung up): for good, so the thread's later waits with this
  // driver no longer watch it.
  virtual bool Advance() = 0;

 protected:
  ~EventDriver() = default;
};

using EventDriverRef = std::shared_ptr<EventDriver>;

class Event {
 public:
  enum class Kind { kManualReset, kAutoReset };

  explicit Event(Kind kind, bool initially_set = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Signals the event and wakes its waiters. For an auto-reset event only
  // one wait returns it; signals given while nobody consumed the last one
  // collapse into one.
  void Set();
  // Withdraws a signal that has not been consumed yet.
  void Reset();
  // True while the event is signalled (does not consume it).
  bool IsSet() const;
  // The same, for a waiter that watches before it sleeps: to it only a hint
  // that may already be stale.
  bool LooksSet() const { return signalled_.load(std::memory_order_acquire); }
  Kind kind() const { return kind_; }
  // Lends `driver` to the waits on this event from now on (null: none).
  void SetDriver(EventDriverRef driver);

 private:
  friend int WaitAny(const Event* const* events, int count, int64_t timeout_ms);
  // A waiter's entry in the list of one event; lives in the wait's frame.
  struct WaitLink {
    Waiter* waiter = nullptr;
    WaitLink* prev = nullptr;
    WaitLink* next = nullptr;
  };
  // Consumes the signal (auto reset) and returns true when signalled.
  bool TryTake();
  // Takes the signal of the first signalled event of `events` and returns
  // its index; -1 when none is signalled.
  static int TakeFirstSignalled(const Event* const* events, int count);
  // Enters `link` (for link->waiter) in the list that Set pokes. Returns
  // the driver lent to this event, if any.
  EventDriverRef Register(WaitLink* link);
  void Unregister(WaitLink* link);
  bool HasDriver() const { return has_driver_.load(std::memory_order_acquire); }

  const Kind kind_;
  // The signal itself. Set and the waits pair a store of one of
  // signalled_ / waiter_count_ with a load of the other (both sequentially
  // consistent), so either Set sees a registered waiter and pokes it, or
  // the waiter sees the signal before it sleeps: Set takes no lock while
  // nobody waits, and taking or withdrawing the signal never does.
  std::atomic<bool> signalled_;
  std::atomic<int> waiter_count_{0};     // links in waiters_; changed under mu_
  std::atomic<bool> has_driver_{false};  // driver_ is not null; written under mu_
  std::mutex mu_;
  WaitLink* waiters_ = nullptr;  // guarded by mu_; a doubly linked list
  EventDriverRef driver_;        // guarded by mu_
};

using EventRef = std::shared_ptr<Event>;

// Creates a shared event. Never fails on this platform, but callers treat
// a null result as the failure the original system reports.
EventRef MakeEvent(Event::Kind kind, bool initially_set = false);

inline constexpr int64_t kInfinite = -1;
inline constexpr int kWaitTimeout = -2;
inline constexpr int kWaitFailed = -1;

// Waits until one of `events` is signalled and returns its index; when
// several are signalled the lowest index wins. An auto-reset event is
// consumed by the wait that returns it. Returns kWaitTimeout after
// timeout_ms milliseconds (kInfinite waits forever) and kWaitFailed when the
// list is empty or holds a null event. The events must stay alive during the
// call. A wait may watch its events for a moment before it sleeps (a
// wake-up then costs next to nothing), or drive their device itself (the
// first event with an EventDriver lends it); what it returns is the same.
int WaitAny(const Event* const* events, int count, int64_t timeout_ms);
int WaitAny(std::initializer_list<const Event*> events, int64_t timeout_ms);

// Whether the calling thread's waits may watch their events before they
// sleep (they may unless the thread says otherwise). A thread among more
// busy threads than cores turns it off: no core is idle to keep warm, and
// its watching would only take time from the others.
void AllowWaitSpinning(bool allow);

}  // namespace quarnex

#endif  // QUARNEX_PLATFORM_EVENT_H_
