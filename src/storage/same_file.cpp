#include "storage/same_file.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace pitch {

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  if (::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0) {
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
  }
  std::error_code error;
  const std::filesystem::path pa = std::filesystem::weakly_canonical(a, error);
  if (error) {
    return a == b;
  }
  const std::filesystem::path pb = std::filesystem::weakly_canonical(b, error);
  if (error) {
    return a == b;
  }
  return pa == pb;
}

std::optional<std::pair<std::size_t, std::size_t>> FirstSharedFile(
    const std::vector<std::pair<std::string, std::string>>& paths) {
  for (std::size_t j = 0; j < paths.size(); ++j) {
    for (std::size_t i = 0; i < j; ++i) {
      const std::string& a = paths[i].second;
      const std::string& b = paths[j].second;
      if (!a.empty() && !b.empty() && a != "-" && b != "-" && SameFile(a, b)) {
        return std::pair{i, j};
      }
    }
  }
  return std::nullopt;
}

}  // namespace pitch
