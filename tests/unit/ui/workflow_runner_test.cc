#include "ui/workflow_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "ui/timers.h"
#include "unit/ui/fakes.h"

namespace quarno::ui {
namespace {

TEST(WorkflowRunnerTest, RunsOneAtATimeWithTheWindowDimmed) {
  test::FakeView view;
  WorkflowRunner runner(view);
  std::promise<void> release;
  std::shared_future<void> gate = release.get_future().share();
  std::atomic<int> runs{0};
  ASSERT_TRUE(runner.Run([&](const CancelFlag&) {
    ++runs;
    gate.wait();
  }));
  EXPECT_TRUE(view.dimmed);
  EXPECT_TRUE(runner.Busy());
  // A second click while the first workflow runs is dropped.
  EXPECT_FALSE(runner.Run([&](const CancelFlag&) { ++runs; }));
  release.set_value();
  runner.WaitIdle();
  EXPECT_FALSE(view.dimmed);
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(runner.Run([&](const CancelFlag&) { ++runs; }));
  runner.WaitIdle();
  EXPECT_EQ(runs, 2);
}

TEST(WorkflowRunnerTest, FinishCancelsTheRunningWorkflowAndRunsTheLastWorkAfterIt) {
  test::FakeView view;
  WorkflowRunner runner(view);
  std::atomic<bool> saw_cancel{false};
  std::atomic<int> order{0};
  std::atomic<int> workflow_end{0}, last_start{0};
  std::promise<void> started;
  ASSERT_TRUE(runner.Run([&](const CancelFlag& cancel) {
    started.set_value();
    while (!cancel) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    saw_cancel = true;
    workflow_end = ++order;
  }));
  started.get_future().wait();
  runner.Finish([&](const CancelFlag& cancel) {
    EXPECT_FALSE(cancel);  // the exit work itself is never cancelled
    last_start = ++order;
  });
  runner.WaitIdle();
  EXPECT_TRUE(saw_cancel);
  EXPECT_EQ(workflow_end, 1);
  EXPECT_EQ(last_start, 2);
  EXPECT_FALSE(runner.Run([](const CancelFlag&) {}));
}

TEST(WorkflowRunnerTest, FinishWithNothingRunningStillRunsTheLastWork) {
  test::FakeView view;
  WorkflowRunner runner(view);
  std::atomic<bool> ran{false};
  runner.Finish([&](const CancelFlag&) { ran = true; });
  runner.WaitIdle();
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace quarno::ui

namespace quarno::ui {
namespace {

TEST(ThreadTimersTest, PostsTicksToTheTargetUntilKilled) {
  ThreadTimers timers;
  QueueSink sink;
  timers.Start(5001, std::chrono::milliseconds(5), &sink);
  for (int i = 0; i < 3; ++i) {
    auto tick = sink.Wait(std::chrono::seconds(5));
    ASSERT_TRUE(tick);
    EXPECT_EQ(tick->id, WM_TIMER);
    EXPECT_EQ(tick->wparam, 5001u);
  }
  timers.Kill(5001);
  while (sink.Wait(std::chrono::milliseconds(20))) {
  }
  EXPECT_FALSE(sink.Wait(std::chrono::milliseconds(50)));
}

}  // namespace
}  // namespace quarno::ui
