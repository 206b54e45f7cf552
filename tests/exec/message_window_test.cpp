// Hidden message windows: who runs a handler, when, and what happens to news for a window that
// is gone.
#include <gtest/gtest.h>

#include <thread>

#include "exec/command.h"
#include "exec/event.h"

namespace orvik {
namespace {

struct Recorder {
  Recorder()
      : window(createMessageWindow([this](const Message& m) { received.push_back(m.lParam); })) {}
  ~Recorder() { destroyMessageWindow(window); }
  std::vector<LParam> received;
  WindowHandle window;
};

TEST(MessageWindow, SendNotifyRunsAtOnceOnTheOwnerAndQueuesFromOtherThreads) {
  Recorder recorder;
  ASSERT_TRUE(isWindow(recorder.window));
  EXPECT_TRUE(sendNotifyMessage(recorder.window, MSG_PROGRESS, 0, 1));
  EXPECT_EQ(recorder.received, std::vector<LParam>{1});

  std::thread other([&] {
    EXPECT_TRUE(sendNotifyMessage(recorder.window, MSG_PROGRESS, 0, 2));
    EXPECT_TRUE(postMessage(recorder.window, MSG_PROGRESS, 0, 3));
  });
  other.join();
  // Nothing ran on the other thread; both wait in this thread's queue, in order.
  EXPECT_EQ(recorder.received, std::vector<LParam>{1});
  EXPECT_EQ(currentThreadQueue().processPending(), 2u);
  EXPECT_EQ(recorder.received, (std::vector<LParam>{1, 2, 3}));
}

TEST(MessageWindow, NewsForAWindowThatIsGoneIsDropped) {
  auto recorder = std::make_unique<Recorder>();
  const WindowHandle window = recorder->window;
  EXPECT_TRUE(postMessage(window, MSG_PROGRESS, 0, 1));
  recorder.reset();
  EXPECT_FALSE(isWindow(window));
  EXPECT_FALSE(postMessage(window, MSG_PROGRESS, 0, 2));
  EXPECT_FALSE(sendNotifyMessage(window, MSG_PROGRESS, 0, 2));
  EXPECT_EQ(currentThreadQueue().processPending(), 1u);  // dropped without a handler
  EXPECT_FALSE(isWindow(kNoWindow));
}

TEST(MessageWindow, WakeupHookHearsOfEveryQueuedMessage) {
  Recorder recorder;
  int wakeups = 0;
  currentThreadQueue().setWakeup([&] { ++wakeups; });
  postMessage(recorder.window, MSG_CABLE_COUNT, 0, 1);
  postMessage(recorder.window, MSG_CABLE_COUNT, 0, 2);
  currentThreadQueue().setWakeup(nullptr);
  EXPECT_EQ(wakeups, 2);
  currentThreadQueue().processPending();
}

TEST(Event, ListenersHaveNoDuplicatesAndGoneOnesAreSkipped) {
  Event event;
  Recorder first;
  auto second = std::make_unique<Recorder>();
  EXPECT_FALSE(event.addListener(kNoWindow));
  EXPECT_TRUE(event.addListener(first.window));
  EXPECT_TRUE(event.addListener(second->window));
  EXPECT_TRUE(event.addListener(first.window));
  EXPECT_EQ(event.listeners(), (std::vector<WindowHandle>{first.window, second->window}));

  second.reset();
  event.postToListeners(MSG_CABLE_COUNT, 0, 4);
  EXPECT_EQ(currentThreadQueue().processPending(), 1u);
  EXPECT_EQ(first.received, std::vector<LParam>{4});

  event.removeListener(first.window);
  EXPECT_EQ(event.listeners().size(), 1u);
}

TEST(Command, ScaledProgress) {
  struct Case {
    unsigned done, total, span, base, value;
  };
  const Case cases[] = {
      {1, 2, 90, 10, 55},  {2, 3, 100, 0, 66}, {0, 5, 100, 20, 20},
      {5, 5, 80, 20, 100}, {3, 0, 50, 10, 60},  // no work counts as all done
      {9, 3, 100, 0, 100},                      // never beyond the span
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Command::scaledProgress(c.done, c.total, c.span, c.base), c.value)
        << c.done << "/" << c.total;
  }
}

}  // namespace
}  // namespace orvik
