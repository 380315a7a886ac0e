// Running a study in-process and reading its output.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "study/study.h"

namespace pitch::study::testing {

struct Outcome {
  int code = 0;
  std::string out;
  std::string err;
};

inline Outcome Study(const StudyOptions& options, const std::string& input = "",
                     const MapRenderer& renderer = {}) {
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  Outcome o;
  o.code = RunStudy(options, in, out, err, renderer);
  o.out = out.str();
  o.err = err.str();
  return o;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> rows;
  for (const std::string& line : Lines(text)) {
    rows.push_back(nlohmann::json::parse(line));
  }
  return rows;
}

// Options of a batch from the input stream, of a sweep, and either changed by a function.
inline StudyOptions Batch() {
  StudyOptions o;
  o.batch = "-";
  return o;
}

inline StudyOptions Sweep(std::vector<std::string> sweeps) {
  StudyOptions o;
  o.sweeps = std::move(sweeps);
  return o;
}

template <typename F>
StudyOptions With(StudyOptions o, F change) {
  change(o);
  return o;
}

// A folder of its own for each test, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    path_ = std::filesystem::temp_directory_path() /
            ("pitch-study-" + std::to_string(::getpid()) + "-" + std::to_string(next_++));
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() { std::filesystem::remove_all(path_); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  static inline int next_ = 0;
  std::filesystem::path path_;
};

}  // namespace pitch::study::testing
