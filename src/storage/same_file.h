// Whether two paths name one file, so that a program can refuse to write a file it reads, or to
// write one file twice.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pitch {

// By device and inode where both exist (links and different spellings included); else by the
// absolute, normalised paths.
bool SameFile(const std::string& a, const std::string& b);

// Of (option, path) pairs, the first two whose paths name one file; "-" (a standard stream) and
// empty paths are left out.
std::optional<std::pair<std::size_t, std::size_t>> FirstSharedFile(
    const std::vector<std::pair<std::string, std::string>>& paths);

}  // namespace pitch
