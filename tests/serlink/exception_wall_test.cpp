// Nothing thrown inside the library crosses into its caller: out of memory
// in an export or in a callback of the caller's loop becomes a result code
// (SERLINK_E_NO_MEMORY) and leaves the library usable. Allocation fails on demand through
// this program's own operator new, which the library's code calls too.
#include <atomic>
#include <cstdlib>
#include <new>

#include "fixture.h"

namespace {
std::atomic<bool> g_fail_allocations{false};
}  // namespace

void* operator new(std::size_t size) {
  if (g_fail_allocations.load(std::memory_order_relaxed)) throw std::bad_alloc();
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
// This program's operator new is malloc, so free is the matching release;
// GCC's optimiser cannot see that replacement and warns.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace serlink_test {
namespace {

// Every allocation fails while one of these lives.
struct NoMemory {
  NoMemory() { g_fail_allocations = true; }
  ~NoMemory() { g_fail_allocations = false; }
};

using ExceptionWall = SerlinkTest;

TEST_F(ExceptionWall, ExportsReturnOutOfMemoryAndStayUsable) {
  FakeModem com1(1);
  std::int32_t rc = 0;
  EXPECT_NO_THROW({
    NoMemory none;
    rc = open_port(0);
  });
  EXPECT_EQ(rc, SERLINK_E_NO_MEMORY);
  EXPECT_FALSE(serlink::channel_open()) << "a failed open leaves the channel closed";
  ASSERT_EQ(open_port(0), SERLINK_OK);

  // A command longer than the short-string buffer needs the heap.
  char text[] = "&F &C1 &D2 S7=60 S0=0 V1 X4";
  ModemCommand command{0, text};
  EXPECT_NO_THROW({
    NoMemory none;
    rc = ModemSendCommand(&command);
  });
  EXPECT_EQ(rc, SERLINK_E_NO_MEMORY);
  EXPECT_EQ(ModemSendCommand(&command), SERLINK_OK);
}

// A C++ caller's status callback that runs out of memory once, at `when`.
std::vector<std::int32_t> g_states;
std::int32_t g_throw_at = 0;
std::int32_t throwing_status(std::int32_t state, const char*) {
  g_states.push_back(state);
  if (state == g_throw_at) {
    g_throw_at = 1000;
    throw std::bad_alloc();
  }
  return 0;
}

// Called inside an export (SERLINK_CONNECT_OPENING): the export returns
// SERLINK_E_NO_MEMORY. Called from a callback of the caller's loop
// (SERLINK_CONNECT_CONNECTED, the sign-on starts after the modem's CONNECT):
// the connection ends with SERLINK_E_NO_MEMORY, reported
// as its final state, and the port closes. Nothing leaves the library.
TEST_F(ExceptionWall, AThrowInsideAnExportOrACallbackOfTheLoopBecomesOutOfMemory) {
  for (const std::int32_t at : {SERLINK_CONNECT_OPENING, SERLINK_CONNECT_CONNECTED}) {
    SCOPED_TRACE(at);
    FakeModem com1(1);
    ASSERT_EQ(ConnectRegistration(), SERLINK_OK);
    const char* commands[2] = {"&F", "&K3"};
    ConnectDialSetup setup{};
    setup.speed = 9;
    setup.data_bits = 8;
    setup.commands = commands;
    setup.primary = {SERLINK_DIAL_TONE, 30, 0, "5550001"};
    ConnectRequest r{SERLINK_TYPE_DIAL_SIGNON, &setup, "guest", throwing_status};
    g_states.clear();
    g_throw_at = at;
    std::int32_t rc = 0;
    EXPECT_NO_THROW(rc = ConnectProcess(&r));
    if (at == SERLINK_CONNECT_OPENING) {
      EXPECT_EQ(rc, SERLINK_E_NO_MEMORY);
    } else {
      ASSERT_EQ(rc, SERLINK_CONNECT_WAITING);
      auto& loop = platform::MessageLoop::current();
      platform::ModalState until;
      auto tick = loop.set_thread_timer(50, [&](platform::TimerId) {
        if (!g_states.empty() && g_states.back() <= SERLINK_CONNECT_COMPLETE) loop.end_modal(until, 0);
      });
      EXPECT_NO_THROW(loop.run_modal(until));
      loop.kill_thread_timer(tick);
      ASSERT_FALSE(g_states.empty());
      EXPECT_EQ(g_states.back(), SERLINK_E_NO_MEMORY);
    }
    EXPECT_FALSE(serlink::channel_open());
    ConnectShutdown(nullptr);
  }
}

}  // namespace
}  // namespace serlink_test
