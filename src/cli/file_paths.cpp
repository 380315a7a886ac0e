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

void RefuseSharedFiles(const Options& options, int out_descriptor) {
  std::vector<NamedFile> files;
  const auto add = [&](const char* option, const std::optional<std::string>& path,
                       bool input = false) {
    if (path) {
      files.push_back({option, *path, -1, input});
    }
  };
  add("--from", options.from, true);  // the input: never overwritten by an output
  add("--results", options.results);
  add("--csv", options.csv);
  add("--plot", options.plot);
  add("--bode", options.bode);
  add("--report", options.report);
  if (out_descriptor >= 0) {
    files.push_back({"the standard output", "", out_descriptor});
  }
  if (const auto shared = FirstSharedFile(files)) {
    throw EUsageError(SharedFileMessage(files[shared->first], files[shared->second]));
  }
}

}  // namespace pitch::cli
