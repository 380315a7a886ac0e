#include "storage/same_file.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace pitch {

namespace {

bool SameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The absolute, lexically normal form of a path; empty when the working folder is unknown.
std::filesystem::path Normal(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? std::filesystem::path() : absolute.lexically_normal();
}

// The folder's device and inode and the name: one file for two spellings of a folder (a link
// among them) that does not hold the file yet.
bool SameFolderAndName(const std::filesystem::path& a, const std::filesystem::path& b) {
  if (a.filename() != b.filename() || a.filename().empty()) {
    return false;
  }
  struct stat first {};
  struct stat second {};
  return ::stat(a.parent_path().c_str(), &first) == 0 &&
         ::stat(b.parent_path().c_str(), &second) == 0 && SameInode(first, second);
}

// The regular file a standard stream is, if it is one.
bool RegularStream(int descriptor, struct stat& info) {
  return ::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
}

bool Shared(const NamedFile& a, const NamedFile& b) {
  const bool a_stream = a.descriptor >= 0;
  const bool b_stream = b.descriptor >= 0;
  if ((!a_stream && (a.path.empty() || a.path == "-")) ||
      (!b_stream && (b.path.empty() || b.path == "-"))) {
    return false;
  }
  if (!a_stream && !b_stream) {
    return SameFile(a.path, b.path);
  }
  // A terminal or a pipe may serve as input and output at once; a regular file may not.
  struct stat first {};
  struct stat second {};
  if (a_stream ? !RegularStream(a.descriptor, first) : ::stat(a.path.c_str(), &first) != 0) {
    return false;
  }
  if (b_stream ? !RegularStream(b.descriptor, second) : ::stat(b.path.c_str(), &second) != 0) {
    return false;
  }
  return SameInode(first, second);
}

std::string Described(const NamedFile& file) {
  std::string text = file.option;
  if (!file.path.empty()) {
    text += " " + file.path;
  }
  if (file.path == "-") {
    text += file.input ? " (the standard input)" : " (the standard output)";
  }
  return text;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  const bool a_exists = ::stat(a.c_str(), &first) == 0;
  const bool b_exists = ::stat(b.c_str(), &second) == 0;
  if (a_exists && b_exists) {
    return SameInode(first, second);
  }
  if (a_exists != b_exists) {
    return false;  // one file is there and the other is not
  }
  const std::filesystem::path pa = Normal(a);
  const std::filesystem::path pb = Normal(b);
  if (pa.empty() || pb.empty()) {
    return a == b;
  }
  return pa == pb || SameFolderAndName(pa, pb);
}

std::optional<std::pair<std::size_t, std::size_t>> FirstSharedFile(
    const std::vector<NamedFile>& files) {
  for (std::size_t j = 0; j < files.size(); ++j) {
    for (std::size_t i = 0; i < j; ++i) {
      if (Shared(files[i], files[j])) {
        return std::pair{i, j};
      }
    }
  }
  return std::nullopt;
}

std::string SharedFileMessage(const NamedFile& first, const NamedFile& second) {
  return Described(first) + " and " + Described(second) +
         " name the same file; each needs a file of its own";
}

}  // namespace pitch
