// The files a command line names, each at most once: a file option given twice would leave the
// first file unwritten, and two options (or an output and the input) naming one file would
// overwrite each other's bytes.
#pragma once

#include <string>
#include <vector>

#include "cli/options.h"

namespace pitch::cli {

// Raises EUsageError for a file option (--batch, --out, --map, --csv, --results, --plot, --bode,
// --report, --from) given more than once before "--".
void RefuseRepeatedFileOptions(const std::vector<std::string>& args);

// Raises EUsageError when two of the single run's files, its input (--from) and the standard
// output (out_descriptor, -1 for none) included, name one file (by device and inode where they
// exist, else by path or by folder and name).
void RefuseSharedFiles(const Options& options, int out_descriptor = -1);

}  // namespace pitch::cli
