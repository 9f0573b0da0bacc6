#pragma once
// Runs the window's long workflows one at a time on a worker thread, so the
// window keeps painting: while one runs the window is dimmed and takes no
// input. When the program ends, the running workflow is asked to stop and a
// last piece of work (the exit path) runs after it.
//
//   runner.Run([&](const CancelFlag& cancel) {
//     for (int attempt = 0; attempt < 5 && !cancel; ++attempt) { ... }
//   });
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "ui/view.h"

namespace quarno::ui {

// Set when the program is ending; workflows test it between steps.
class CancelFlag {
 public:
  explicit operator bool() const { return cancelled_.load(); }
  void Set() { cancelled_.store(true); }
  void Reset() { cancelled_.store(false); }

 private:
  std::atomic<bool> cancelled_{false};
};

class WorkflowRunner {
 public:
  using Work = std::function<void(const CancelFlag&)>;

  // `dim` is the window dimmed while a workflow runs.
  WorkflowRunner(View& view, Surface dim = Surface::kMain);
  // Cancels and waits for the running workflow.
  ~WorkflowRunner();
  WorkflowRunner(const WorkflowRunner&) = delete;
  WorkflowRunner& operator=(const WorkflowRunner&) = delete;

  // Starts `work` unless a workflow runs or the runner was finished; false
  // then (the click is dropped, as the dimmed window would have dropped it).
  bool Run(Work work);
  // Cancels the running workflow and runs `last` once it has ended; no
  // workflow starts afterwards. `last` runs even when nothing was running.
  void Finish(Work last);
  bool Busy() const;
  // Blocks until no workflow runs (tests, orderly end).
  void WaitIdle();

 private:
  void Join();

  View& view_;
  Surface dim_;
  mutable std::mutex mutex_;
  std::condition_variable idle_cv_;
  int running_ = 0;  // the workflow, plus the exit work queued behind it
  bool finished_ = false;
  CancelFlag cancel_;
  std::thread worker_;
};

}  // namespace quarno::ui
