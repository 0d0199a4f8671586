#include "platform/loop/message_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/loop/clock.h"
#include "platform/loop/log.h"

namespace platform {
namespace {

// A send_message from another thread, carried through the owner's queue.
struct CrossThreadCall {
  Message msg;
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  LRESULT result = 0;

  void finish(LRESULT r) {
    std::lock_guard lock(mutex);
    result = r;
    done = true;
    done_cv.notify_all();
  }
};

// The part of a loop that other threads may touch: its queue and wake-up fd.
// Shared, so a post racing with the loop's end finds a closed queue instead
// of freed memory.
struct Queue {
  std::mutex mutex;
  std::deque<Message> messages;
  std::deque<std::shared_ptr<CrossThreadCall>> calls;
  bool closed = false;
  int wake_fd = -1;

  Queue() : wake_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (wake_fd < 0) log_error("message-loop", "eventfd failed; posts from other threads may wait");
  }
  ~Queue() {
    if (wake_fd >= 0) close(wake_fd);
  }

  void wake() {
    if (wake_fd < 0) return;
    std::uint64_t one = 1;
    // A full counter still leaves the fd readable, which is all we need.
    [[maybe_unused]] ssize_t n = write(wake_fd, &one, sizeof one);
  }

  void drain_wake() {
    if (wake_fd < 0) return;
    std::uint64_t count;
    [[maybe_unused]] ssize_t n = read(wake_fd, &count, sizeof count);
  }

  bool push(const Message& m) {
    {
      std::lock_guard lock(mutex);
      if (closed) return false;
      messages.push_back(m);
    }
    wake();
    return true;
  }

  bool push_call(std::shared_ptr<CrossThreadCall> call) {
    {
      std::lock_guard lock(mutex);
      if (closed) return false;
      calls.push_back(std::move(call));
    }
    wake();
    return true;
  }
};

struct WindowEntry {
  MessageTarget* target = nullptr;
  std::shared_ptr<Queue> queue;
  MessageLoop::Impl* owner = nullptr;
  std::thread::id thread;
};

// Process-wide handle table. Leaked on purpose: threads may still post while
// static objects are being destroyed at exit.
struct WindowTable {
  std::mutex mutex;
  std::unordered_map<HWND, WindowEntry> windows;
  HWND next_handle = 0x100;
};

WindowTable& window_table() {
  static WindowTable* table = new WindowTable;
  return *table;
}

bool lookup(HWND hwnd, WindowEntry& out) {
  WindowTable& t = window_table();
  std::lock_guard lock(t.mutex);
  auto it = t.windows.find(hwnd);
  if (it == t.windows.end()) return false;
  out = it->second;
  return true;
}

struct TimerKey {
  HWND hwnd;   // 0 for thread timers
  TimerId id;
  auto operator<=>(const TimerKey&) const = default;
};

struct Timer {
  std::int64_t period_ms = 0;
  std::int64_t due_ms = 0;
  std::uint64_t sequence = 0;  // creation order breaks ties between equal due times
  std::function<void(TimerId)> callback;  // thread timers only
};

}  // namespace

struct MessageLoop::Impl {
  std::shared_ptr<Queue> queue = std::make_shared<Queue>();
  std::map<TimerKey, Timer> timers;
  std::map<int, std::function<void()>> watches;
  std::uint64_t next_sequence = 1;
  TimerId next_thread_timer = 0x10000;
  bool quit_pending = false;
  int exit_code = 0;
  int depth = 0;

  void dispatch(const Message& m) {
    WindowEntry entry;
    if (!lookup(m.hwnd, entry) || entry.owner != this) return;  // destroyed: dropped
    entry.target->handle_message(m);
  }

  // Delivers the messages queued when the pass began, so a handler that keeps
  // posting to itself cannot starve timers. Returns how many were handled.
  int deliver_posted() {
    std::deque<Message> batch;
    std::deque<std::shared_ptr<CrossThreadCall>> calls;
    {
      std::lock_guard lock(queue->mutex);
      batch.swap(queue->messages);
      calls.swap(queue->calls);
    }
    int handled = 0;
    for (auto& call : calls) {
      WindowEntry entry;
      LRESULT r = 0;
      if (lookup(call->msg.hwnd, entry) && entry.owner == this) r = entry.target->handle_message(call->msg);
      call->finish(r);
      ++handled;
    }
    while (!batch.empty()) {
      if (quit_pending) {
        // Keep what is left for a later run, in order, ahead of newer posts.
        std::lock_guard lock(queue->mutex);
        queue->messages.insert(queue->messages.begin(), batch.begin(), batch.end());
        break;
      }
      Message m = batch.front();
      batch.pop_front();
      dispatch(m);
      ++handled;
    }
    return handled;
  }

  // Fires every timer that is due now, earliest first. Each fires once per
  // pass; its next due time counts from now, so a late loop does not burst.
  int fire_due_timers() {
    std::int64_t now = clock().now_ms();
    std::vector<std::pair<TimerKey, std::pair<std::int64_t, std::uint64_t>>> due;
    for (auto& [key, timer] : timers) {
      if (timer.due_ms <= now) due.push_back({key, {timer.due_ms, timer.sequence}});
    }
    std::sort(due.begin(), due.end(), [](auto& a, auto& b) { return a.second < b.second; });
    int fired = 0;
    for (auto& [key, order] : due) {
      if (quit_pending) break;
      auto it = timers.find(key);
      // Killed or restarted by an earlier tick of this pass.
      if (it == timers.end() || it->second.sequence != order.second) continue;
      it->second.due_ms = now + it->second.period_ms;
      ++fired;
      if (key.hwnd == 0) {
        auto callback = it->second.callback;  // the tick may kill its own timer
        callback(key.id);
      } else {
        WindowEntry entry;
        if (!lookup(key.hwnd, entry) || entry.owner != this) {
          timers.erase(key);
          continue;
        }
        entry.target->handle_message(Message{key.hwnd, WM_TIMER, key.id, 0});
      }
    }
    return fired;
  }

  int fire_ready_fds(const std::vector<pollfd>& fds) {
    int fired = 0;
    for (const pollfd& p : fds) {
      if (p.fd == queue->wake_fd || !(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      auto it = watches.find(p.fd);
      if (it == watches.end()) continue;  // unwatched by an earlier callback
      auto callback = it->second;
      callback();
      ++fired;
    }
    return fired;
  }

  bool has_posted() {
    std::lock_guard lock(queue->mutex);
    return !queue->messages.empty() || !queue->calls.empty();
  }

  std::int64_t next_due() const {
    std::int64_t next = INT64_MAX;
    for (auto& [key, timer] : timers) next = std::min(next, timer.due_ms);
    return next;
  }

  // Polls the wake-up fd and the watched fds for up to timeout_ms (-1: no limit).
  int poll_fds(int timeout_ms) {
    std::vector<pollfd> fds;
    if (queue->wake_fd >= 0) fds.push_back({queue->wake_fd, POLLIN, 0});
    for (auto& [fd, cb] : watches) fds.push_back({fd, POLLIN, 0});
    int n = poll(fds.data(), fds.size(), timeout_ms);
    if (n < 0) {
      if (errno != EINTR) log_error("message-loop", "poll failed");
      return 0;
    }
    if (n == 0) return 0;
    if (queue->wake_fd >= 0 && (fds[0].revents & POLLIN)) queue->drain_wake();
    return fire_ready_fds(fds);
  }

  // One pass: posted messages, then ready descriptors, then due timers.
  // With `may_wait`, an idle pass blocks until something is due.
  int pass(bool may_wait) {
    int done = deliver_posted();
    if (quit_pending) return done;
    done += poll_fds(0);
    if (quit_pending) return done;
    done += fire_due_timers();
    if (done > 0 || !may_wait || quit_pending || has_posted()) return done;

    Clock& c = clock();
    std::int64_t next = next_due();
    if (c.is_virtual()) {
      if (next != INT64_MAX) {
        c.advance_to(next);  // idle in virtual time: jump to the next timer
        return 0;
      }
      return poll_fds(-1);
    }
    int timeout = -1;
    if (next != INT64_MAX) {
      std::int64_t wait = next - c.now_ms();
      timeout = static_cast<int>(std::clamp<std::int64_t>(wait, 0, 1'000'000));
    }
    return poll_fds(timeout);
  }

  ~Impl() {
    std::deque<std::shared_ptr<CrossThreadCall>> calls;
    {
      std::lock_guard lock(queue->mutex);
      queue->closed = true;
      calls.swap(queue->calls);
    }
    for (auto& call : calls) call->finish(0);
    WindowTable& t = window_table();
    std::lock_guard lock(t.mutex);
    std::erase_if(t.windows, [this](auto& kv) { return kv.second.owner == this; });
  }
};

MessageLoop::MessageLoop() : impl_(std::make_unique<Impl>()) {}
MessageLoop::~MessageLoop() = default;

MessageLoop& MessageLoop::current() {
  thread_local std::unique_ptr<MessageLoop> loop(new MessageLoop);
  return *loop;
}

HWND MessageLoop::register_window(MessageTarget* target) {
  WindowTable& t = window_table();
  std::lock_guard lock(t.mutex);
  HWND h = t.next_handle++;
  t.windows[h] = WindowEntry{target, impl_->queue, impl_.get(), std::this_thread::get_id()};
  return h;
}

void MessageLoop::unregister_window(HWND hwnd) {
  {
    WindowTable& t = window_table();
    std::lock_guard lock(t.mutex);
    auto it = t.windows.find(hwnd);
    if (it == t.windows.end() || it->second.owner != impl_.get()) return;
    t.windows.erase(it);
  }
  std::erase_if(impl_->timers, [hwnd](auto& kv) { return kv.first.hwnd == hwnd; });
}

TimerId MessageLoop::set_timer(HWND hwnd, TimerId id, std::int64_t period_ms) {
  WindowEntry entry;
  if (hwnd == 0 || id == 0 || period_ms < 0 || !lookup(hwnd, entry) || entry.owner != impl_.get()) return 0;
  Timer& t = impl_->timers[TimerKey{hwnd, id}];
  t.period_ms = period_ms;
  t.due_ms = clock().now_ms() + period_ms;
  t.sequence = impl_->next_sequence++;
  t.callback = nullptr;
  return id;
}

bool MessageLoop::kill_timer(HWND hwnd, TimerId id) { return impl_->timers.erase(TimerKey{hwnd, id}) > 0; }

TimerId MessageLoop::set_thread_timer(std::int64_t period_ms, std::function<void(TimerId)> callback) {
  if (period_ms < 0 || !callback) return 0;
  TimerId id = impl_->next_thread_timer++;
  Timer& t = impl_->timers[TimerKey{0, id}];
  t.period_ms = period_ms;
  t.due_ms = clock().now_ms() + period_ms;
  t.sequence = impl_->next_sequence++;
  t.callback = std::move(callback);
  return id;
}

bool MessageLoop::kill_thread_timer(TimerId id) { return impl_->timers.erase(TimerKey{0, id}) > 0; }

void MessageLoop::watch_fd(int fd, std::function<void()> on_ready) { impl_->watches[fd] = std::move(on_ready); }

void MessageLoop::unwatch_fd(int fd) { impl_->watches.erase(fd); }

int MessageLoop::run() {
  ++impl_->depth;
  while (!impl_->quit_pending) impl_->pass(true);
  --impl_->depth;
  impl_->quit_pending = false;
  return impl_->exit_code;
}

int MessageLoop::run_modal(ModalState& state) {
  ++impl_->depth;
  while (!state.ended && !impl_->quit_pending) impl_->pass(true);
  --impl_->depth;
  return state.ended ? state.result : -1;
}

void MessageLoop::end_modal(ModalState& state, int result) {
  state.ended = true;
  state.result = result;
  impl_->queue->wake();
}

bool MessageLoop::pump_pending() {
  if (!impl_->quit_pending) impl_->pass(false);
  return !impl_->quit_pending;
}

void MessageLoop::quit(int exit_code) {
  impl_->quit_pending = true;
  impl_->exit_code = exit_code;
  impl_->queue->wake();
}

bool MessageLoop::quit_pending() const { return impl_->quit_pending; }

int MessageLoop::nesting_depth() const { return impl_->depth; }

bool post_message(HWND hwnd, unsigned message, WPARAM wparam, LPARAM lparam) {
  WindowEntry entry;
  if (!lookup(hwnd, entry)) return false;
  return entry.queue->push(Message{hwnd, message, wparam, lparam});
}

LRESULT send_message(HWND hwnd, unsigned message, WPARAM wparam, LPARAM lparam) {
  WindowEntry entry;
  if (!lookup(hwnd, entry)) return 0;
  Message m{hwnd, message, wparam, lparam};
  if (entry.thread == std::this_thread::get_id()) return entry.target->handle_message(m);
  auto call = std::make_shared<CrossThreadCall>();
  call->msg = m;
  if (!entry.queue->push_call(call)) return 0;
  std::unique_lock lock(call->mutex);
  call->done_cv.wait(lock, [&] { return call->done; });
  return call->result;
}

bool is_window(HWND hwnd) {
  WindowEntry entry;
  return lookup(hwnd, entry);
}

void post_quit_message(int exit_code) { MessageLoop::current().quit(exit_code); }

}  // namespace platform
