#include "study/threads.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace pitch::study {

int StartableThreads(int wanted) {
  if (wanted <= 1) {
    return 1;
  }
  std::mutex mutex;
  std::condition_variable tried;
  bool done = false;
  std::vector<std::thread> threads;
  threads.reserve(static_cast<std::size_t>(wanted - 1));
  for (int i = 1; i < wanted; ++i) {
    try {
      threads.emplace_back([&] {
        std::unique_lock lock(mutex);
        tried.wait(lock, [&] { return done; });
      });
    } catch (const std::system_error&) {
      break;
    }
  }
  {
    std::lock_guard lock(mutex);
    done = true;
  }
  tried.notify_all();
  for (std::thread& t : threads) {
    t.join();
  }
  const int started = static_cast<int>(threads.size()) + 1;
  return started == wanted ? wanted : std::max(1, started - 1);
}

}  // namespace pitch::study
