// Locales that a test needs and the machine may lack (ps_AF.UTF-8 and fa_IR.UTF-8, whose decimal
// point is a two-byte character), built with localedef into a temporary folder of their own.
// While the object lives, LOCPATH points the C library to that folder first, then to the
// system's; the destructor restores LOCPATH and removes the folder. A test that gets no locale
// skips, saying why.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pitch::testing {

class GeneratedLocales {
 public:
  GeneratedLocales() {
    const char* old = std::getenv("LOCPATH");
    if (old != nullptr) {
      old_locpath_ = old;
    }
    std::string pattern =
        (std::filesystem::temp_directory_path() / "pitch-locales-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
      folder_ = pattern;
      ::setenv("LOCPATH", (folder_ + ":/usr/lib/locale").c_str(), 1);
    }
  }
  GeneratedLocales(const GeneratedLocales&) = delete;
  GeneratedLocales& operator=(const GeneratedLocales&) = delete;
  ~GeneratedLocales() {
    if (old_locpath_) {
      ::setenv("LOCPATH", old_locpath_->c_str(), 1);
    } else {
      ::unsetenv("LOCPATH");
    }
    if (!folder_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(folder_, ignored);
    }
  }

  // Builds the locale name (such as "ps_AF.UTF-8") from the locale source (ps_AF) and the
  // character map (UTF-8) of the C library's locale data. Returns why it could not, or "".
  std::string Build(const std::string& source, const std::string& charmap,
                    const std::string& name) {
    if (folder_.empty()) {
      return "no temporary folder for the locales";
    }
    std::string program;
    for (const char* candidate : {"/usr/bin/localedef", "/usr/sbin/localedef", "/bin/localedef"}) {
      if (::access(candidate, X_OK) == 0) {
        program = candidate;
        break;
      }
    }
    if (program.empty()) {
      return "localedef is missing (the libc-bin package)";
    }
    const std::string target = folder_ + "/" + name;
    std::vector<std::string> args = {program, "-i", source, "-f", charmap, target};
    std::vector<char*> argv;
    for (std::string& a : args) {
      argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::string path = "PATH=/usr/bin:/bin";
    std::string lc_all = "LC_ALL=C";
    char* envp[] = {path.data(), lc_all.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      return "localedef cannot be started";
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // Exit code 1 means warnings only; the locale is there when its numeric part is.
    const bool ran = WIFEXITED(status) && WEXITSTATUS(status) <= 1;
    if (!ran || !std::filesystem::exists(target + "/LC_NUMERIC")) {
      return "localedef could not build " + name + " from " + source + " and " + charmap +
             " (the locales package holds the sources)";
    }
    return "";
  }

 private:
  std::string folder_;
  std::optional<std::string> old_locpath_;
};

}  // namespace pitch::testing
