// The detection helper of serlink's callers: serlink's context-free status
// callback reaches the scope that is open (the inner one while two are), the
// pump is registered for the scope's life and only when no other handler
// is, the port table offers at most its size, and the configured commands
// are cut to the buffers serlink was given.
#include "serlink/modem_detection.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

void other_handler(std::int32_t) {}

// A status handler that keeps the texts it gets and answers `answer`.
serlink::DetectionScope::StatusHandler recorder(std::vector<std::string>& texts, std::int32_t answer) {
  return [&texts, answer](const char* text) {
    texts.push_back(text ? text : "(null)");
    return answer;
  };
}

TEST(ModemDetection, StatusReachesTheOpenScopeAndNothingElse) {
  const StatusCallback status = serlink::DetectionScope::status_callback();
  EXPECT_EQ(status("before"), 0) << "no scope: go on";
  std::vector<std::string> outer_texts, inner_texts;
  {
    serlink::DetectionScope outer(recorder(outer_texts, 7), 1);
    EXPECT_EQ(status("a"), 7);
    {
      serlink::DetectionScope inner(recorder(inner_texts, 0), 2);
      EXPECT_EQ(status("b"), 0);
      EXPECT_EQ(status(nullptr), 0);
    }
    EXPECT_EQ(status("c"), 7);
  }
  EXPECT_EQ(status("after"), 0);
  EXPECT_EQ(outer_texts, (std::vector<std::string>{"a", "c"}));
  EXPECT_EQ(inner_texts, (std::vector<std::string>{"b", "(null)"}));
}

TEST(ModemDetection, PumpIsRegisteredForTheScopeOnlyWhenNoOtherHandlerIs) {
  {
    serlink::DetectionScope scope([](const char*) { return 0; }, 42);
    EXPECT_TRUE(scope.pumping());
    EXPECT_EQ(SerlinkSetEventHandler(other_handler, 5), SERLINK_E_HANDLER_SET) << "the scope's pump is registered";
  }
  ASSERT_EQ(SerlinkSetEventHandler(other_handler, 5), SERLINK_OK) << "the scope removed its pump";
  {
    serlink::DetectionScope scope([](const char*) { return 0; }, 42);
    EXPECT_FALSE(scope.pumping());
  }
  EXPECT_EQ(SerlinkSetEventHandler(other_handler, 6), SERLINK_E_HANDLER_SET) << "the other handler stays";
  EXPECT_EQ(SerlinkSetEventHandler(nullptr, 5), SERLINK_OK);
}

TEST(ModemDetection, PortTableOffersAtMostItsSize) {
  serlink::PortTable<4> one(1, nullptr);
  EXPECT_EQ(one.list.count, 1u);
  serlink::PortTable<4> many(9, serlink::DetectionScope::status_callback());
  EXPECT_EQ(many.list.count, 4u);
  EXPECT_EQ(many.list.status, serlink::DetectionScope::status_callback());
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(many.list.entries[i], &many.entries[i]);
    EXPECT_EQ(many.entries[i].port, static_cast<std::int32_t>(i));
  }
  many.list.count = 9;  // a library that says more than it was offered
  EXPECT_EQ(many.found(), 4u);
  std::memset(many.entries[2].name, 'X', sizeof many.entries[2].name);  // no terminator
  EXPECT_EQ(many.name(2), std::string(sizeof many.entries[2].name, 'X'));
  std::strcpy(many.entries[1].name, "COM2:");
  EXPECT_EQ(many.name(1), "COM2:");
}

TEST(ModemDetection, AutoConfigurationCutsTheCommandsToTheBuffers) {
  ModemAutoConfigRecord seen{};
  const serlink::AutoConfiguration got =
      serlink::auto_configure(3, serlink::DetectionScope::status_callback(), [&](ModemAutoConfigRecord* r) {
        seen = *r;
        std::memset(r->reset, 'R', 20);  // fills the buffers to the last byte
        std::memset(r->setup, 'S', 200);
        r->metrics.speed = 9;
        r->metrics.flow = 12;
        return 77;  // passed through as it is
      });
  EXPECT_EQ(seen.metrics.channel, 3);
  EXPECT_EQ(seen.status, serlink::DetectionScope::status_callback());
  EXPECT_EQ(got.result, 77);
  EXPECT_EQ(got.metrics.speed, 9);
  EXPECT_EQ(got.metrics.flow, 12);
  EXPECT_EQ(got.reset, std::string(19, 'R'));
  EXPECT_EQ(got.setup, std::string(199, 'S'));
}

}  // namespace
