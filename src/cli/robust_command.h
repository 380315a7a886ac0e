// pitch-autopilot-cli --robust c1=LO:HI …: the flight envelope of one tuned autopilot, decided
// over a box of coefficient sets (robust/envelope.h), as text or JSON.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/run.h"
#include "number_text/number_settings.h"

namespace pitch::cli {

// The command line asks for the robust study: --robust appears before "--".
bool IsRobustRun(const std::vector<std::string>& args);

// Runs it. Returns the exit code: 0 when it ran to its end (stable, not stable or undecided),
// 2 for a usage error, 128 + the signal when SIGINT or SIGTERM stopped it (the bounds reached are
// printed).
int RunRobust(const std::vector<std::string>& args, const NumberSettings& locale_settings,
              std::ostream& out, std::ostream& err, const StudyContext& context);

}  // namespace pitch::cli
