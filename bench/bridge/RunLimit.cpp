#include "RunLimit.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace varnello::bench {

RunLimit::RunLimit(std::chrono::seconds limit)
    : watcher_([this, limit] {
          std::unique_lock lock(mutex_);
          if (!changed_.wait_for(lock, limit, [this] { return done_; })) {
              if (const pid_t pid = child_.load(); pid > 0) {
                  ::kill(pid, SIGKILL);
              }
              std::fprintf(stderr,
                           "bridge_load_report: the run outlasted its limit of %lld s; "
                           "stopped.\n",
                           static_cast<long long>(limit.count()));
              std::_Exit(3);
          }
      }) {}

RunLimit::~RunLimit() {
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    changed_.notify_all();
    watcher_.join();
}

} // namespace varnello::bench
