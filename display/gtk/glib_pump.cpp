#include "glib_pump.h"

#include <poll.h>

#include <algorithm>

namespace display {

GlibPump::GlibPump() : context_(g_main_context_default()) {
  acquired_ = g_main_context_acquire(context_);
  arm();
}

GlibPump::~GlibPump() {
  auto& loop = platform::MessageLoop::current();
  for (int fd : watched_) loop.unwatch_fd(fd);
  if (timer_) loop.kill_thread_timer(timer_);
  if (acquired_) g_main_context_release(context_);
}

void GlibPump::prepare() {
  // A context that has something ready now is dispatched at once; otherwise
  // query tells what to wait for.
  prepared_ = true;
  const bool ready = g_main_context_prepare(context_, &max_priority_);
  gint n = static_cast<gint>(fds_.size());
  gint query_timeout = -1;
  for (;;) {
    fds_.resize(static_cast<std::size_t>(std::max(n, 8)));
    n = g_main_context_query(context_, max_priority_, &query_timeout, fds_.data(),
                             static_cast<gint>(fds_.size()));
    if (n <= static_cast<gint>(fds_.size())) break;
  }
  fds_.resize(static_cast<std::size_t>(n));
  timeout_ = ready ? 0 : query_timeout;
}

void GlibPump::arm() {
  auto& loop = platform::MessageLoop::current();
  prepare();

  std::vector<int> wanted;
  for (const GPollFD& p : fds_) {
    if ((p.events & (G_IO_IN | G_IO_HUP | G_IO_ERR | G_IO_PRI)) != 0 &&
        std::find(wanted.begin(), wanted.end(), p.fd) == wanted.end())
      wanted.push_back(p.fd);
  }
  for (int fd : watched_) {
    if (std::find(wanted.begin(), wanted.end(), fd) == wanted.end()) loop.unwatch_fd(fd);
  }
  for (int fd : wanted) {
    if (std::find(watched_.begin(), watched_.end(), fd) == watched_.end())
      loop.watch_fd(fd, [this] { on_wake(); });
  }
  watched_ = std::move(wanted);

  set_timer(timeout_);
}

void GlibPump::set_timer(gint timeout) {
  auto& loop = platform::MessageLoop::current();
  if (timer_) {
    loop.kill_thread_timer(timer_);
    timer_ = 0;
  }
  if (timeout < 0) return;
  timer_ = loop.set_thread_timer(timeout, [this](platform::TimerId id) {
    platform::MessageLoop::current().kill_thread_timer(id);
    if (timer_ == id) timer_ = 0;
    on_wake();
  });
}

void GlibPump::on_wake() {
  // A wake inside a dispatch (a modal loop started by a GTK callback) finds
  // the outer iteration's poll set used up: it starts a fresh iteration, and
  // GLib drops the outer one's pending dispatches when prepare runs again.
  if (!prepared_) prepare();
  // Fill in what is ready without waiting (the platform loop did the
  // waiting); check then decides.
  if (!fds_.empty()) {
    std::vector<pollfd> p(fds_.size());
    for (std::size_t i = 0; i < fds_.size(); ++i) p[i] = {fds_[i].fd, static_cast<short>(fds_[i].events), 0};
    ::poll(p.data(), p.size(), 0);
    for (std::size_t i = 0; i < fds_.size(); ++i) fds_[i].revents = static_cast<gushort>(p[i].revents);
  }
  prepared_ = false;
  ++depth_;
  if (g_main_context_check(context_, max_priority_, fds_.data(), static_cast<gint>(fds_.size()))) {
    // A callback may start a modal loop before this dispatch returns. That
    // loop must ask the context again before it first waits: a source the
    // callback added (a timer, an idle handler) does not wake the context's
    // own thread. The timer is replaced by arm() when no loop ran.
    set_timer(0);
    g_main_context_dispatch(context_);
  }
  --depth_;
  arm();
}

void GlibPump::run_once() { on_wake(); }

}  // namespace display
