#include "share/home_tree.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/links.h"
#include "platform/paths.h"
#include "platform/trace.h"

namespace quarno::share {
namespace {

// One worker, so a removal queued before a creation of the same name always
// runs first.
class LinkWorker {
 public:
  ~LinkWorker() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  void Post(std::function<void()> job) {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
    ++posted_;
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    wake_.notify_all();
  }

  void WaitIdle() {
    std::unique_lock lock(mutex_);
    const unsigned long long target = posted_;
    done_cv_.wait(lock, [&] { return done_ >= target; });
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
      if (jobs_.empty()) return;  // stopping, all done
      auto job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      lock.lock();
      ++done_;
      done_cv_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, done_cv_;
  std::deque<std::function<void()>> jobs_;
  unsigned long long posted_ = 0, done_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

LinkWorker& Worker() {
  static LinkWorker worker;
  return worker;
}

bool IsDriveRoot(const std::string& text) {
  if (text.size() != 3) return false;
  const char letter = text[0];
  const bool alpha = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
  return alpha && text[1] == ':' && (text[2] == '\\' || text[2] == '/');
}

// Only a link that sits directly in the home folder is ours to remove.
void RemoveJunction(const std::string& junction_path) {
  const std::string home = platform::HomeFolder();
  const std::size_t slash = junction_path.rfind('/');
  if (slash == std::string::npos || junction_path.substr(0, slash) != home) {
    platform::Trace("share: %s is not in the home folder; left alone", junction_path.c_str());
    return;
  }
  if (!platform::RemoveLinkOnly(junction_path)) {
    platform::Trace("share: no link removed at %s", junction_path.c_str());
  }
}

}  // namespace

std::string LinkName(const std::string& shared_folder) {
  if (IsDriveRoot(shared_folder)) return std::string("DISK_") + shared_folder[0];
  std::string path = shared_folder;
  while (!path.empty() && path.back() == '/') path.pop_back();
  const std::size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name == "." || name == "..") return "";
  return name;
}

std::string JunctionPath(const std::string& shared_folder) {
  const std::string name = LinkName(shared_folder);
  return name.empty() ? "" : platform::HomeFolder() + "/" + name;
}

std::string ShareLink::CurrentPath() const {
  std::lock_guard lock(mutex_);
  return current_;
}

void ShareLink::SetCurrentPath(const std::string& junction_path) {
  std::lock_guard lock(mutex_);
  current_ = junction_path;
}

void RemoveHomeJunctions() {
  Worker().Post([] {
    const std::string home = platform::HomeFolder();
    for (const std::string& name : platform::ListLinks(home)) RemoveJunction(home + "/" + name);
  });
}

bool ShareLink::Link(const std::string& shared_folder) {
  const std::string junction = JunctionPath(shared_folder);
  if (junction.empty()) return false;
  std::string previous;
  {
    std::lock_guard lock(mutex_);
    previous = current_;
    current_ = junction;
  }
  if (!previous.empty() && previous != junction) {
    Worker().Post([previous] { RemoveJunction(previous); });
  }
  Worker().Post([junction, shared_folder] {
    platform::MakeDirs(platform::HomeFolder());
    if (!platform::CreateDirLink(junction, shared_folder)) {
      platform::Trace("share: cannot link %s to %s", junction.c_str(), shared_folder.c_str());
    }
  });
  return true;
}

void ShareLink::RemoveAtExit() {
  const std::string current = CurrentPath();
  if (!current.empty()) Worker().Post([current] { RemoveJunction(current); });
  WaitForLinkWork();
}

void WaitForLinkWork() { Worker().WaitIdle(); }

}  // namespace quarno::share
