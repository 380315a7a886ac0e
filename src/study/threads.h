// How many threads a study can have. The thread library ends the process when it cannot start a
// worker (a process or thread limit, RLIMIT_NPROC), so the study finds out first.
#pragma once

namespace pitch::study {

// The most threads --jobs may ask for.
inline constexpr int kMaxJobs = 256;

// How many of wanted threads (the calling thread included) could run at once: starts up to
// wanted − 1 threads that wait until all have been tried, then ends them. When fewer could be
// started, one is kept in reserve for the thread library's own use.
int StartableThreads(int wanted);

}  // namespace pitch::study
