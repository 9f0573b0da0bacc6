#include "ui/workflow_runner.h"

namespace quarno::ui {

WorkflowRunner::WorkflowRunner(View& view, Surface dim) : view_(view), dim_(dim) {}

WorkflowRunner::~WorkflowRunner() {
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  cancel_.Set();
  Join();
}

void WorkflowRunner::Join() {
  std::thread worker;
  {
    std::lock_guard lock(mutex_);
    worker = std::move(worker_);
  }
  if (!worker.joinable()) return;
  if (worker.get_id() == std::this_thread::get_id()) {
    worker.detach();  // destroyed from its own workflow: nothing left to wait for
  } else {
    worker.join();
  }
}

bool WorkflowRunner::Run(Work work) {
  {
    std::lock_guard lock(mutex_);
    if (running_ > 0 || finished_) return false;
    running_ = 1;
  }
  Join();  // the previous workflow has ended; reap its thread
  view_.SetDimmed(dim_, true);
  std::lock_guard lock(mutex_);
  worker_ = std::thread([this, work = std::move(work)] {
    work(cancel_);
    view_.SetDimmed(dim_, false);
    {
      std::lock_guard done(mutex_);
      --running_;
    }
    idle_cv_.notify_all();
  });
  return true;
}

void WorkflowRunner::Finish(Work last) {
  std::thread previous;
  {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    finished_ = true;
    ++running_;
    previous = std::move(worker_);
  }
  cancel_.Set();
  view_.SetDimmed(dim_, true);
  // The exit work must not wait on the GUI thread for a workflow stuck in a
  // network time-out, so it queues behind that workflow on a thread of its own.
  std::lock_guard lock(mutex_);
  worker_ = std::thread([this, previous = std::move(previous), last = std::move(last)]() mutable {
    if (previous.joinable()) previous.join();
    const CancelFlag never;
    last(never);
    {
      std::lock_guard done(mutex_);
      --running_;
    }
    idle_cv_.notify_all();
  });
}

bool WorkflowRunner::Busy() const {
  std::lock_guard lock(mutex_);
  return running_ > 0;
}

void WorkflowRunner::WaitIdle() {
  std::unique_lock lock(mutex_);
  idle_cv_.wait(lock, [&] { return running_ == 0; });
}

}  // namespace quarno::ui
