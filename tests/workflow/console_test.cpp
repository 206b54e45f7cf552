// The console's messages: test mode in and out, updates started by a console, and their
// results sent back instead of shown.
#include <gtest/gtest.h>

#include "tests/workflow/workflow_fixture.h"

namespace orvik {
namespace {

using testing::Bench;
using testing::FakeConsole;
using Post = FakeConsole::Post;
using Posts = std::vector<Post>;
using Shown = testing::RecordingView::Shown;
using Shownlist = std::vector<Shown>;

constexpr const char* kTitle = "Orvik Update Tool";
constexpr const char* kTestModeTitle = "Orvik Update Tool [Test mode]";
constexpr const char* kTestModeQuestion =
    "Update flash tool is entering test mode, \t\r\ndo you want to continue?";

Post ack(const Bench& bench, ConsoleMessage message) {
  return {FakeConsole::kHandle, message, bench.controller.window(), 8};
}

Post end(LParam result) {
  return {FakeConsole::kHandle, ConsoleMessage::End, 8, result};
}

class ConsoleTest : public testing::ErrorTextTest {};

TEST_F(ConsoleTest, OnlyValidMessagesFromAConsoleAreHandled) {
  const struct {
    const char* name;
    ConsoleMessage message;
    LParam lParam;
    WParam from;
    bool userAccepts;
    int answer;
    int testModeAfter;
    bool asked;
    bool acknowledged;
  } cases[] = {
      {"enter, accepted", ConsoleMessage::EnterTestMode, 4619, FakeConsole::kHandle, true, 1, 1,
       true, true},
      {"enter, declined", ConsoleMessage::EnterTestMode, 4619, FakeConsole::kHandle, false, 0, 0,
       true, false},
      {"enter with another lParam", ConsoleMessage::EnterTestMode, 4620, FakeConsole::kHandle, true,
       1, 0, false, false},
      {"enter from a window that does not exist", ConsoleMessage::EnterTestMode, 4619, 0x5EED, true,
       1, 0, false, false},
      {"exit out of test mode", ConsoleMessage::ExitTestMode, 4619, FakeConsole::kHandle, true, 1,
       0, false, true},
      {"start with another lParam", ConsoleMessage::Start, 0, FakeConsole::kHandle, true, 1, 0,
       false, false},
      {"start from a window that does not exist", ConsoleMessage::Start, 4619, 0x5EED, true, 1, 0,
       false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench;
    bench.view.acceptTestMode = c.userAccepts;
    EXPECT_EQ(bench.console(c.message, c.lParam, c.from), c.answer);
    EXPECT_EQ(bench.controller.testMode(), c.testModeAfter);
    EXPECT_EQ(bench.view.testModeQuestions,
              c.asked ? std::vector<std::string>{kTestModeQuestion} : std::vector<std::string>{});
    EXPECT_EQ(bench.consoleChannel.posts, c.acknowledged ? Posts{ack(bench, c.message)} : Posts{});
    EXPECT_EQ(bench.view.title, c.testModeAfter != 0 ? kTestModeTitle : kTitle);
    EXPECT_EQ(bench.view.flashes, c.acknowledged ? 1 : 0);
    // No update was started.
    EXPECT_TRUE(bench.view.messages.empty());
    EXPECT_EQ(bench.radio.requests().size(), 0u);
  }
}

// A console holds the tool in test mode: no question, the result to the console, then out.
TEST_F(ConsoleTest, TestModeRoundTrip) {
  Bench bench;
  EXPECT_EQ(bench.console(ConsoleMessage::EnterTestMode), 1);
  // A second enter only acknowledges.
  EXPECT_EQ(bench.console(ConsoleMessage::EnterTestMode), 1);
  EXPECT_EQ(bench.view.testModeQuestions.size(), 1u);
  EXPECT_EQ(bench.console(ConsoleMessage::Start), 1);
  EXPECT_TRUE(bench.view.messages.empty());
  EXPECT_TRUE(bench.firmwareProgrammed());
  EXPECT_EQ(bench.console(ConsoleMessage::ExitTestMode), 1);
  EXPECT_EQ(bench.consoleChannel.posts, (Posts{ack(bench, ConsoleMessage::EnterTestMode),
                                               ack(bench, ConsoleMessage::EnterTestMode), end(1),
                                               ack(bench, ConsoleMessage::ExitTestMode)}));
  EXPECT_EQ(bench.view.title, kTitle);
  EXPECT_EQ(bench.controller.testMode(), 0);

  // Out of test mode a start asks and shows as the button does; nothing goes to the console.
  bench.consoleChannel.posts.clear();
  bench.view.answers = {kAnswerYes};  // the go-ahead
  EXPECT_EQ(bench.console(ConsoleMessage::Start), 1);
  EXPECT_EQ(testing::questionKinds(bench.view.questions()),
            std::vector<testing::Question>{testing::Question::GoAhead});
  EXPECT_EQ(bench.view.results(), (Shownlist{{testing::kLatest, kStyleInformation}}));
  EXPECT_TRUE(bench.consoleChannel.posts.empty());
}

// Test mode ends without the console's EXIT when the session of the console that asked for it
// goes away, or when the user leaves it from the window; the next update asks again.
TEST_F(ConsoleTest, TestModeEndsWhenItsSessionGoesOrTheUserLeavesIt) {
  constexpr WParam kOther = 0xC0502F;
  const struct {
    const char* name;
    void (*end)(Bench&);
    int testModeAfter;
  } cases[] = {
      {"the session that entered goes",
       [](Bench& bench) { bench.controller.onConsoleGone(FakeConsole::kHandle); }, 0},
      {"another console's session goes",
       [](Bench& bench) { bench.controller.onConsoleGone(kOther); }, 1},
      {"the user leaves it", [](Bench& bench) { bench.controller.onLeaveTestMode(); }, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench;
    bench.consoleChannel.consoles.insert(kOther);
    ASSERT_EQ(bench.console(ConsoleMessage::EnterTestMode), 1);
    EXPECT_EQ(bench.view.testModeShown, std::vector<bool>{true});
    c.end(bench);
    EXPECT_EQ(bench.controller.testMode(), c.testModeAfter);
    EXPECT_EQ(bench.view.title, c.testModeAfter != 0 ? kTestModeTitle : kTitle);
    const std::vector<bool> shown =
        c.testModeAfter != 0 ? std::vector<bool>{true} : std::vector<bool>{true, false};
    EXPECT_EQ(bench.view.testModeShown, shown);
    // Only the console's own requests are acknowledged.
    EXPECT_EQ(bench.consoleChannel.posts, Posts{ack(bench, ConsoleMessage::EnterTestMode)});

    bench.view.answers = {kAnswerNo};
    bench.controller.onUpdate();
    EXPECT_EQ(bench.view.questions().size(), c.testModeAfter != 0 ? 0u : 1u);
    EXPECT_EQ(bench.firmwareProgrammed(), c.testModeAfter != 0);
  }
}

TEST_F(ConsoleTest, TestModeResultsGoToTheConsole) {
  testing::PackageSpec older;
  older.firmware = "R01.00.00";
  SimRadioConfig brokenCodeplug = testing::radioWith("R01.02.03", "R01.02.00");
  brokenCodeplug.codeplugVersion = {'R', 1, 2, 100};
  // Named rather than "{}" in the table: g++ 12 at -O3 takes the members of a "{}" for
  // uninitialised when the table is destroyed.
  const SimRadioConfig usualRadio;
  const struct {
    const char* name;
    testing::PackageSpec package;
    SimRadioConfig radio;
    int refusals;
    Posts posts;
    Shownlist shown;
    bool firmwareProgrammed;
  } cases[] = {
      // The downgrade question is not asked either.
      {"older firmware is programmed",
       older,
       testing::radioWith("R01.05.00", "R01.02.00"),
       0,
       {end(1)},
       {},
       true},
      {"nothing to program is no success",
       {},
       testing::radioWith("R01.03.00", "R01.04.00"),
       0,
       {end(0)},
       {},
       false},
      {"a failed check", {}, brokenCodeplug, 0, {end(0)}, {}, false},
      {"the console takes the fourth post", {}, usualRadio, 3, Posts(4, end(1)), {}, true},
      {"the console is gone",
       {},
       usualRadio,
       -1,
       Posts(11, end(1)),
       {{"Failed to connect to console.", kStyleInformation}},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bench bench(c.package, c.radio);
    ASSERT_EQ(bench.console(ConsoleMessage::EnterTestMode), 1);
    bench.consoleChannel.posts.clear();
    bench.consoleChannel.refusals = c.refusals;
    EXPECT_EQ(bench.console(ConsoleMessage::Start), 1);
    EXPECT_EQ(bench.consoleChannel.posts, c.posts);
    EXPECT_EQ(bench.view.messages, c.shown);
    EXPECT_EQ(bench.firmwareProgrammed(), c.firmwareProgrammed);
    EXPECT_FALSE(bench.cable.isOpen());
  }
}

// In test mode the cables are not counted, so a second one does not hold the update up.
TEST_F(ConsoleTest, TestModeDoesNotCountCables) {
  Bench bench;
  ASSERT_EQ(bench.console(ConsoleMessage::EnterTestMode), 1);
  bench.consoleChannel.posts.clear();
  bench.cable.setDevices({{}, {kCableDescription, 4}});
  EXPECT_EQ(bench.console(ConsoleMessage::Start), 1);
  EXPECT_TRUE(bench.view.messages.empty());
  EXPECT_EQ(bench.consoleChannel.posts, Posts{end(1)});
}

// A start that arrives while an update runs is ignored; the running one ends normally.
TEST_F(ConsoleTest, StartWhileBusyIsIgnored) {
  Bench bench;
  int answer = -1;
  bench.view.wait.during = [&](const std::string&) {
    answer = bench.console(ConsoleMessage::Start);
  };
  bench.view.answers = {kAnswerYes};  // the go-ahead
  bench.controller.onUpdate();
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(bench.view.wait.texts.size(), 1u);
  EXPECT_EQ(testing::questionKinds(bench.view.questions()),
            std::vector<testing::Question>{testing::Question::GoAhead});
  EXPECT_EQ(bench.view.results(), (Shownlist{{testing::kUpdated, kStyleInformation}}));
  EXPECT_TRUE(bench.consoleChannel.posts.empty());
}

// The console learns when each user action starts and ends, so that it can hold test-mode
// requests until then.
TEST_F(ConsoleTest, TheConsoleHearsWhenActionsStartAndEnd) {
  Bench bench;
  std::vector<bool> seenDuring;
  bench.view.wait.during = [&](const std::string&) {
    seenDuring = bench.consoleChannel.actionRunning;
  };
  bench.controller.onGetRadioInfo();
  bench.view.answers = {kAnswerYes};  // the go-ahead
  bench.controller.onUpdate();
  EXPECT_EQ(seenDuring, (std::vector<bool>{true, false, true}));
  EXPECT_EQ(bench.consoleChannel.actionRunning, (std::vector<bool>{true, false, true, false}));
}

}  // namespace
}  // namespace orvik
