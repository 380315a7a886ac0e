#include "study/plan.h"

#include <oneapi/tbb/info.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "number_text/escaped_text.h"
#include "number_text/number_text.h"
#include "storage/picture_format.h"
#include "storage/same_file.h"
#include "study/threads.h"

namespace pitch::study {

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  if (text.size() < tail.size()) {
    return false;
  }
  return std::equal(tail.rbegin(), tail.rend(), text.rbegin(), [](char a, char b) {
    return a == std::tolower(static_cast<unsigned char>(b));
  });
}

Real ParseValue(const std::string& option, const std::string& text, const StudyOptions& options) {
  try {
    return fp::Store(ParseNumber(text, options.separator));
  } catch (const Exception& e) {
    throw EUsageError(
        NumberUsageError(option, text, e, options.separator, options.separator_given));
  }
}

std::int64_t ParseWhole(const std::string& text) {
  std::int64_t v = 0;
  const char* const last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, v);
  if (error != std::errc() || end != last) {
    return -1;
  }
  return v;
}

FixedAutopilot AutopilotFrom(const StudyOptions& options) {
  TController controller;
  controller.c1 = ParseValue("--autopilot-from", options.autopilot_from[0], options);
  controller.c2 = ParseValue("--autopilot-from", options.autopilot_from[1], options);
  controller.c3 = ParseValue("--autopilot-from", options.autopilot_from[2], options);
  controller.c4 = ParseValue("--autopilot-from", options.autopilot_from[3], options);
  controller.c5 = ParseValue("--autopilot-from", options.autopilot_from[4], options);
  try {
    controller.ComputeGearRatios();
  } catch (const Exception& e) {
    throw EUsageError("--autopilot-from: the synthesis failed: " + WithFullStop(e.what()));
  }
  return {controller.muv, controller.iv, controller.nuv, controller.Tnu};
}

FixedAutopilot GivenAutopilot(const StudyOptions& options) {
  FixedAutopilot a;
  a.muv = ParseValue("--autopilot", options.autopilot[0], options);
  a.iv = ParseValue("--autopilot", options.autopilot[1], options);
  a.nuv = ParseValue("--autopilot", options.autopilot[2], options);
  // As the synthesis forms it; an autopilot without integral action has none.
  try {
    a.Tnu = fp::Store(fp::Div(a.iv, a.nuv));
  } catch (const Exception&) {
    a.Tnu.reset();
  }
  return a;
}

}  // namespace

Shard ParseShard(const std::string& text) {
  const std::size_t slash = text.find('/');
  Shard s;
  if (slash != std::string::npos) {
    s.k = ParseWhole(text.substr(0, slash));
    s.n = ParseWhole(text.substr(slash + 1));
  }
  if (slash == std::string::npos || s.n < 1 || s.k < 1 || s.k > s.n) {
    throw EUsageError("--shard " + text + ": expected K/N with 1 <= K <= N");
  }
  return s;
}

Plan MakePlan(const StudyOptions& options) {
  Plan plan;
  if (options.batch && !options.sweeps.empty()) {
    throw EUsageError(
        "--batch and --sweep cannot be used together: a study takes its sets from "
        "a file or from a grid");
  }
  if (!options.batch && options.sweeps.empty()) {
    throw EUsageError("a study needs either --batch FILE or --sweep NAME=FROM:TO:COUNT");
  }
  if (!options.coefficients.empty() && options.coefficients.size() != 5) {
    throw EUsageError("five coefficients are needed, or none");
  }
  if (options.batch && !options.coefficients.empty()) {
    throw EUsageError("--batch takes the coefficients from its file, not from the command line");
  }
  if (!options.autopilot_from.empty() && !options.autopilot.empty()) {
    throw EUsageError("--autopilot-from and --autopilot cannot be used together");
  }
  if (!options.autopilot_from.empty() && options.autopilot_from.size() != 5) {
    throw EUsageError("--autopilot-from needs five coefficients C1 C2 C3 C4 C5");
  }
  if (!options.autopilot.empty() && options.autopilot.size() != 3) {
    throw EUsageError("--autopilot needs three gear ratios MUV IV NUV");
  }
  if (!options.sweeps.empty()) {
    std::array<Real, 5> fixed = kDefaultCoefficients;
    for (std::size_t k = 0; k < options.coefficients.size(); ++k) {
      fixed[k] = ParseValue("c" + std::to_string(k + 1), options.coefficients[k], options);
    }
    std::vector<SweepAxis> axes;
    for (const std::string& sweep : options.sweeps) {
      axes.push_back(ParseSweep(sweep, options.separator, options.separator_given));
    }
    plan.grid.emplace(std::move(axes), fixed);
  }
  if (!options.autopilot_from.empty()) {
    plan.fixed = AutopilotFrom(options);
  } else if (!options.autopilot.empty()) {
    plan.fixed = GivenAutopilot(options);
  }
  const bool to_file = options.out && *options.out != "-";
  if (to_file && EndsWith(*options.out, ".json")) {
    // One JSON document would have to wait for the last row; the rows stream as JSON Lines.
    throw EUsageError("--out " + *options.out +
                      ": the rows are written as JSON Lines, one object a line: name the file "
                      ".jsonl");
  }
  plan.format = to_file && EndsWith(*options.out, ".jsonl") ? Format::kJsonLines : Format::kCsv;
  if (options.csv_style) {
    if (plan.format != Format::kCsv) {
      throw EUsageError("--csv-style needs CSV output, not JSON Lines");
    }
    if (*options.csv_style == "semicolon") {
      plan.csv_style = kSpreadsheetCsv;
    } else if (*options.csv_style != "comma") {
      throw EUsageError("--csv-style " + *options.csv_style + ": expected comma or semicolon");
    }
  }
  plan.samples = options.samples;
  plan.margins = options.margins;
  if (plan.samples && plan.format != Format::kJsonLines) {
    throw EUsageError("--samples needs JSON Lines output (--out FILE.jsonl)");
  }
  if (options.shard) {
    plan.shard = ParseShard(*options.shard);
  }
  if (options.jobs < 0) {
    throw EUsageError("--jobs must be at least 1");
  }
  if (options.jobs > kMaxJobs) {
    throw EUsageError("--jobs " + std::to_string(options.jobs) + ": at most " +
                      std::to_string(kMaxJobs) + " threads");
  }
  plan.jobs = options.jobs > 0 ? options.jobs : std::max(1, tbb::info::default_concurrency());
  if (options.map) {
    if (!plan.grid || plan.grid->axes().size() != 2) {
      throw EUsageError("--map needs a sweep over exactly two coefficients");
    }
    if (plan.shard.n != 1) {
      throw EUsageError("--map needs the whole sweep, not a shard");
    }
    // Refused before anything is computed: a cell narrower than a pixel cannot be seen, and the
    // grid's values are held in memory until the picture is drawn.
    const std::int64_t nx = plan.grid->axes()[0].count;
    const std::int64_t ny = plan.grid->axes()[1].count;
    if (nx > kMapMaxAxisValues || ny > kMapMaxAxisValues) {
      throw EUsageError("--map draws at most " + std::to_string(kMapMaxAxisValues) +
                        " values along each axis, each at least a pixel wide; the sweep has " +
                        std::to_string(nx) + " x " + std::to_string(ny));
    }
    static const std::pair<const char*, MapValue> kNames[] = {
        {"overshoot", MapValue::kOvershoot},
        {"settling", MapValue::kSettling},
        {"peak", MapValue::kPeak},
        {"rise", MapValue::kRise},
        {"spectral-radius", MapValue::kSpectralRadius},
        {"gain-margin", MapValue::kGainMargin},
        {"phase-margin", MapValue::kPhaseMargin},
        {"delay-margin", MapValue::kDelayMargin},
        {"stability-margin", MapValue::kStabilityMargin}};
    for (const auto& [name, value] : kNames) {
      if (options.map_value == name) {
        plan.map = value;
      }
    }
    if (!plan.map) {
      throw EUsageError("--map-value " + options.map_value +
                        ": expected overshoot, settling, peak, rise, spectral-radius, gain-margin, "
                        "phase-margin, delay-margin or stability-margin");
    }
    if (*plan.map >= MapValue::kGainMargin && !plan.margins) {
      throw EUsageError("--map-value " + options.map_value +
                        " needs the loop margins (drop --no-margins)");
    }
    plan.map_svg = PictureFormatOfPath(*options.map) == PictureFormat::kSvg;
  }
  return plan;
}

void RefuseSharedPaths(const StudyOptions& options) {
  std::vector<NamedFile> files;
  if (options.batch) {
    files.push_back(
        {"--batch", *options.batch, *options.batch == "-" ? options.in_descriptor : -1, true});
  }
  if (options.out && *options.out != "-") {
    files.push_back({"--out", *options.out});
  } else if (options.out) {
    files.push_back({"--out", "-", options.out_descriptor});
  } else if (options.out_descriptor >= 0) {
    files.push_back({"the standard output", "", options.out_descriptor});
  }
  if (options.map) {
    files.push_back({"--map", *options.map});
  }
  if (const auto shared = FirstSharedFile(files)) {
    throw EUsageError(SharedFileMessage(files[shared->first], files[shared->second]));
  }
}

double MapValueOf(MapValue which, const RowResult& row) {
  constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  if (which == MapValue::kSpectralRadius) {
    return row.have_stability ? row.spectral_radius : kNone;
  }
  if (which >= MapValue::kGainMargin) {
    if (!row.margins) {
      return kNone;
    }
    const RowMargins& m = *row.margins;
    switch (which) {
      case MapValue::kGainMargin:
        return m.gain ? m.gain->factor : kNone;  // an infinite gain margin has no colour
      case MapValue::kPhaseMargin:
        return m.phase ? m.phase->degrees : kNone;
      case MapValue::kDelayMargin:
        return m.delay.value_or(kNone);
      default:
        return m.stability.value;
    }
  }
  if (!row.have_metrics) {
    return kNone;
  }
  switch (which) {
    case MapValue::kOvershoot:
      return row.metrics.overshoot_percent;
    case MapValue::kSettling:
      return row.metrics.settling_time.value_or(kNone);
    case MapValue::kPeak:
      return row.metrics.peak;
    case MapValue::kRise:
      return row.metrics.rise_time.value_or(kNone);
    default:
      break;
  }
  return kNone;
}

const char* MapValueTitle(MapValue which) {
  switch (which) {
    case MapValue::kOvershoot:
      return "overshoot, %";
    case MapValue::kSettling:
      return "settling time (2 %), s";
    case MapValue::kPeak:
      return "peak of h";
    case MapValue::kRise:
      return "rise time (10-90 %), s";
    case MapValue::kGainMargin:
      return "gain margin (factor)";
    case MapValue::kPhaseMargin:
      return "phase margin, deg";
    case MapValue::kDelayMargin:
      return "delay margin, s";
    case MapValue::kStabilityMargin:
      return "stability margin min |1 + L(jw)|";
    case MapValue::kSpectralRadius:
      break;
  }
  return "spectral radius of I + A·dt";
}

}  // namespace pitch::study
