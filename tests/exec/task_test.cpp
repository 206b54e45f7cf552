// The worker task and the wait dialog: one run at a time, the first failing command ends a run,
// and the dialog closes when the task reports the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <stdexcept>

#include "exec/task_dialog.h"
#include "tests/support/error_text_fixture.h"

namespace orvik {
namespace {

class FakeCommand : public Command {
 public:
  enum class Outcome { Succeed, Fail, Throw, WaitForGo };
  explicit FakeCommand(Outcome outcome = Outcome::Succeed) : outcome_(outcome) {}

  bool execute() override {
    ++runs;
    resultFlag = true;  // as a command does when it starts
    switch (outcome_) {
      case Outcome::Succeed:
        return true;
      case Outcome::Fail:
        return false;
      case Outcome::Throw:
        throw std::runtime_error("out of memory");
      case Outcome::WaitForGo:
        started.set_value();
        go.get_future().wait();
        return true;
    }
    return false;
  }

  int runs = 0;
  std::promise<void> started;
  std::promise<void> go;

 private:
  Outcome outcome_;
};

using Outcome = FakeCommand::Outcome;

class TaskTest : public testing::ErrorTextTest {
 protected:
  void SetUp() override {
    ErrorTextTest::SetUp();
    task.create();
  }
  Task task;
  QueueWaitView view;
};

TEST_F(TaskTest, RunEndsAtTheFirstFailingCommand) {
  struct Case {
    const char* name;
    std::vector<Outcome> outcomes;
    long result;
    std::vector<int> runs;
  };
  const Case cases[] = {
      {"all succeed", {Outcome::Succeed, Outcome::Succeed, Outcome::Succeed}, 3, {1, 1, 1}},
      {"second fails", {Outcome::Succeed, Outcome::Fail, Outcome::Succeed}, 1, {1, 1, 0}},
      {"first fails", {Outcome::Fail, Outcome::Succeed}, 0, {1, 0}},
      // A command that throws has failed, like one that returns false.
      {"second throws", {Outcome::Succeed, Outcome::Throw, Outcome::Succeed}, 1, {1, 1, 0}},
      {"first throws", {Outcome::Throw}, 0, {1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    removeErrors(ErrorCategory::OK);
    std::vector<std::unique_ptr<FakeCommand>> commands;
    CTaskDialog dialog(task, view);
    for (Outcome outcome : c.outcomes) {
      commands.push_back(std::make_unique<FakeCommand>(outcome));
      dialog.addCommand(commands.back().get());
    }
    EXPECT_EQ(dialog.run(), CTaskDialog::kResultDone);
    EXPECT_FALSE(task.running());
    EXPECT_EQ(task.lastResult(), c.result);
    std::vector<int> runs;
    for (const auto& command : commands) {
      runs.push_back(command->runs);
    }
    EXPECT_EQ(runs, c.runs);
    const bool threw =
        std::find(c.outcomes.begin(), c.outcomes.end(), Outcome::Throw) != c.outcomes.end();
    if (threw) {
      // The caller reads the command's flag, which it had set when it started.
      EXPECT_FALSE(commands[static_cast<std::size_t>(c.result)]->resultFlag);
    }
    EXPECT_EQ(testing::errorLines(),
              threw ? std::vector<std::string>{"9:Error:the command stopped on an unexpected "
                                               "fault [out of memory]."}
                    : std::vector<std::string>{});
    // The dialog has unregistered itself and emptied the task's list.
    EXPECT_TRUE(task.listeners().empty());
    EXPECT_EQ(task.clearCommands(), 0u);
  }
}

TEST_F(TaskTest, SecondStartWhileRunningDoesNothing) {
  FakeCommand slow(Outcome::WaitForGo);
  FakeCommand other;
  task.addCommand(&slow);
  task.start();
  slow.started.get_future().wait();
  EXPECT_TRUE(task.running());

  // A wait dialog opened now ends at once and runs nothing.
  CTaskDialog dialog(task, view);
  dialog.addCommand(&other);
  EXPECT_EQ(dialog.run(), CTaskDialog::kResultDone);
  task.clearCommands();
  task.addCommand(&other);
  EXPECT_TRUE(task.start());
  EXPECT_EQ(other.runs, 0);

  slow.go.set_value();
  currentThreadQueue().runUntil([&] { return task.lastResult() == 1; });
  EXPECT_EQ(slow.runs, 1);
  EXPECT_EQ(other.runs, 0);
}

TEST_F(TaskTest, DialogWithNothingToRunEndsAtOnce) {
  CTaskDialog dialog(task, view);
  EXPECT_EQ(dialog.text(), "Please wait...");
  EXPECT_EQ(dialog.run(), CTaskDialog::kResultDone);
  EXPECT_EQ(task.lastResult(), -1);
}

}  // namespace
}  // namespace orvik
