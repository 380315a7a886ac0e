// Free descriptors are counted by opening them, against the process's own limit.
#include "storage/descriptors.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace pitch {
namespace {

// The numbers of the descriptors open now, from /proc/self/fd.
std::vector<int> OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  const int own = dirfd(dir);
  std::vector<int> numbers;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != own) {
      numbers.push_back(std::atoi(entry->d_name));
    }
  }
  closedir(dir);
  return numbers;
}

TEST(DescriptorsAvailable, CountsAgainstTheLimitAndClosesItsProbes) {
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  const std::vector<int> open_now = OpenDescriptors();
  // A limit five past the highest descriptor: the free numbers below it are the gaps and those
  // five.
  const int limit = *std::max_element(open_now.begin(), open_now.end()) + 6;
  const auto free = static_cast<std::size_t>(limit) - open_now.size();
  rlimit low = old;
  low.rlim_cur = static_cast<rlim_t>(limit);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  const bool all_free = DescriptorsAvailable(free);
  const bool one_more = DescriptorsAvailable(free + 1);
  const std::vector<int> open_after = OpenDescriptors();
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &old), 0);
  EXPECT_TRUE(all_free);
  EXPECT_FALSE(one_more);
  EXPECT_EQ(open_after, open_now);
  EXPECT_TRUE(DescriptorsAvailable(0));
}

}  // namespace
}  // namespace pitch
