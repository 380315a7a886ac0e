// The command-line tests' fixture: a scratch folder of the test's own, and a call of the front
// end with explicit number settings whose output and exit status are kept.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/run.h"
#include "number_text/number_settings.h"

namespace pitch::cli {

// The full stop and UTF-8, whatever the machine's locale.
inline const NumberSettings kSettings{'.', "UTF-8"};

struct Result {
  int code;
  std::string out;
  std::string err;
};

class CliFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        std::filesystem::temp_directory_path() /
        ("pitch-cli-" +
         std::string(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name()) +
         "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Runs the front end with the given report renderer (none: the program's own).
  Result Call(const std::vector<std::string>& args, const NumberSettings& settings = kSettings,
              const ReportRenderer& report_renderer = {}) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = cli::Run(args, settings, out, err, {}, {}, {}, report_renderer);
    return {code, out.str(), err.str()};
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path dir_;
};

}  // namespace pitch::cli
