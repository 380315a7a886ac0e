#include "storage/descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace pitch {

bool DescriptorsAvailable(std::size_t count) {
  std::vector<int> probes;
  probes.reserve(count);
  int error = 0;
  while (probes.size() < count) {
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      error = errno;
      break;
    }
    probes.push_back(fd);
  }
  for (const int fd : probes) {
    ::close(fd);
  }
  return error != EMFILE && error != ENFILE;
}

}  // namespace pitch
