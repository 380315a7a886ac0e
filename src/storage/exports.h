// Files other than the results file: the response as CSV, and any whole file (a plot) written
// with the same locking, checks and messages as the results file, in one write.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace pitch {

// "t,h" (and ",exact" when exact is given) then one row per sample; shortest decimals, full
// stops, LF line ends. The rows follow the shorter of t and h. exact may end before t (where the
// exact response leaves the double range): a row past its end gets an empty exact cell.
std::string ResponseCsv(std::span<const double> t, std::span<const double> h,
                        std::span<const double> exact = {});

// Creates or replaces the file with exactly these bytes; raises EInOutError on failure, when a
// regular file keeps its old content (a FIFO or a device is written in place).
void WriteFileBytes(const std::string& path, std::string_view bytes);

}  // namespace pitch
