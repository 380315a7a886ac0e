#include "cli/file_paths.h"

#include <map>
#include <utility>

#include "storage/same_file.h"

namespace pitch::cli {

namespace {

constexpr const char* kFileOptions[] = {"--batch", "--out",  "--map",    "--csv", "--results",
                                        "--plot",  "--bode", "--report", "--from"};

}  // namespace

void RefuseRepeatedFileOptions(const std::vector<std::string>& args) {
  std::map<std::string, int> seen;
  for (const std::string& arg : args) {
    if (arg == "--") {
      break;
    }
    for (const char* name : kFileOptions) {
      const std::string option = name;
      if (arg == option || arg.rfind(option + "=", 0) == 0) {
        if (++seen[option] == 2) {
          throw EUsageError(option + " is given twice; each file option names one file");
        }
      }
    }
  }
}

void RefuseSharedFiles(const Options& options) {
  std::vector<std::pair<std::string, std::string>> paths;
  const auto add = [&](const char* option, const std::optional<std::string>& path) {
    if (path) {
      paths.emplace_back(option, *path);
    }
  };
  add("--from", options.from);  // the input: never overwritten by an output
  add("--results", options.results);
  add("--csv", options.csv);
  add("--plot", options.plot);
  add("--bode", options.bode);
  add("--report", options.report);
  if (const auto shared = FirstSharedFile(paths)) {
    const auto& [first, second] = *shared;
    throw EUsageError(paths[first].first + " " + paths[first].second + " and " +
                      paths[second].first + " " + paths[second].second +
                      " name the same file; each needs a file of its own");
  }
}

}  // namespace pitch::cli
