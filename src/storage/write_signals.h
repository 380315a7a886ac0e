// Signals that a failing write raises on Linux: SIGPIPE (the reader of a pipe or FIFO went away)
// and SIGXFSZ (the file size limit was reached). Their default action ends the process without a
// word and loses what the user was saving; ignored, the write fails with EPIPE or EFBIG instead
// and the failure is reported like any other.
#pragma once

namespace pitch {

// Sets both signals to be ignored for the rest of the process. Called first thing by both
// programs.
void IgnoreWriteSignals();

}  // namespace pitch
