// Whether two paths name one file, so that a program can refuse to write a file it reads, or to
// write one file twice.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pitch {

// By device and inode where both exist (links and different spellings included); else, for a
// file that does not exist yet, by the absolute, lexically normal paths, or by the folder's
// device and inode and the name.
bool SameFile(const std::string& a, const std::string& b);

// A file that a command line reads or writes: the option that names it and its path; a standard
// stream (path "-", or an empty path for the standard output that no option names) gives its
// descriptor, compared by device and inode when it is a regular file.
struct NamedFile {
  std::string option;
  std::string path;
  int descriptor = -1;
  bool input = false;  // read, not written: "-" is the standard input
};

// The first two of the files that are one file; a path "-" without a descriptor and an empty
// path without one are left out.
std::optional<std::pair<std::size_t, std::size_t>> FirstSharedFile(
    const std::vector<NamedFile>& files);

// "--out big.csv and --batch - (the standard input) name the same file; …" for two of files.
std::string SharedFileMessage(const NamedFile& first, const NamedFile& second);

}  // namespace pitch
