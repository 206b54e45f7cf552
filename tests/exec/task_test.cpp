// The worker task and the wait dialog: one run at a time, the first failing command ends a run,
// and the dialog closes when the task reports the end.
#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

#include "exec/task_dialog.h"

namespace orvik {
namespace {

class FakeCommand : public Command {
 public:
  enum class Outcome { Succeed, Fail, Throw, WaitForGo };
  explicit FakeCommand(Outcome outcome = Outcome::Succeed) : outcome_(outcome) {}

  bool execute() override {
    ++runs;
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

class TaskTest : public testing::Test {
 protected:
  void SetUp() override { task.create(); }
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
      // A throwing command ends the run with the result it had.
      {"second throws", {Outcome::Succeed, Outcome::Throw, Outcome::Succeed}, 3, {1, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
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
