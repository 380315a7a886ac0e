#include "cli/robust_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <optional>
#include <sstream>
#include <thread>

#include "cli/options.h"
#include "cli/renderer_process.h"
#include "cli/robust_report.h"
#include "cli/study_options.h"
#include "core/controller.h"
#include "core/model.h"
#include "number_text/escaped_text.h"
#include "number_text/number_text.h"
#include "robust/envelope.h"
#include "robust/region_map.h"
#include "storage/exports.h"
#include "storage/picture_format.h"
#include "study/interrupt.h"
#include "study/json_text.h"
#include "study/sweep.h"

namespace pitch::cli {

namespace {

using study::Json;
using study::JsonText;

constexpr const char* kProgram = "pitch-autopilot-cli";

struct RobustArguments {
  std::vector<std::string> intervals;
  std::vector<std::string> coefficients;
  std::vector<std::string> autopilot_from;
  std::vector<std::string> autopilot;
  std::string tolerance;
  std::string separator;
  std::string map;
  std::string report;
  bool json = false;
  bool no_margins = false;
  bool progress = false;
  bool no_progress = false;
  int jobs = 0;
  std::optional<std::string> info;
};

RobustArguments Parse(const std::vector<std::string>& args) {
  RobustArguments r;
  StudyArguments autopilot;
  std::vector<std::string> arguments = args;
  TakeAutopilotArguments(arguments, autopilot);
  r.autopilot_from = autopilot.autopilot_from;
  r.autopilot = autopilot.autopilot;

  CLI::App app(
      "Decides whether the closed loop with one tuned autopilot is stable for every coefficient\n"
      "set in a box, with a certificate or a destabilising set, and bounds its stability margin\n"
      "and the worst-case gain, stability, phase and delay margins over the box.",
      kProgram);
  app.set_help_flag("-h,--help", "print this text");
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.allow_extras();
  app.add_option("--robust", r.intervals,
                 "NAME (c1 ... c5) lies in [LO, HI]; repeatable; the others stay at C1 ... C5\n"
                 "or the defaults")
      ->option_text("NAME=LO:HI")
      ->type_name("NAME=LO:HI")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--autopilot-from", autopilot.help_only,
                 "synthesise the ratios from these coefficients (default: the nominal set)")
      ->option_text("C1 C2 C3 C4 C5");
  app.add_option("--autopilot", autopilot.help_only, "use these gear ratios")
      ->option_text("MUV IV NUV");
  app.add_option("--tolerance", r.tolerance,
                 "the stability margin's bounds to hi/lo - 1 <= TOL (default 1e-9)")
      ->option_text("TOL");
  app.add_option("--separator", r.separator, "decimal separator of input and output")
      ->option_text(",|.")
      ->check(CLI::IsMember({",", "."}));
  app.add_flag("--json", r.json, "print one JSON object")->disable_flag_override();
  app.add_option("--robust-map", r.map,
                 "draw the certified stability region over the first two coefficients with\n"
                 "intervals (.png or .svg): each cell proven stable, proven unstable or\n"
                 "undecided, the nominal and worst sets marked")
      ->option_text("FILE")
      ->check(CLI::Validator(
          [](std::string& path) -> std::string {
            return PictureFormatOfPath(path) ? "" : kPictureFormats;
          },
          ""));
  app.add_option("--report", r.report,
                 "write the PDF report: the calculation at the nominal set, then the flight\n"
                 "envelope on a page of its own (these lines, and the region map over the\n"
                 "first two coefficients with intervals)")
      ->option_text("FILE.pdf")
      ->check(PdfFileCheck());
  app.add_flag("--no-margins", r.no_margins, "leave the worst-case margins out")
      ->disable_flag_override();
  app.add_flag("--progress", r.progress, "show a progress line on standard error")
      ->disable_flag_override();
  app.add_flag("--no-progress", r.no_progress, "never show the progress line")
      ->disable_flag_override();
  app.add_option("--jobs", r.jobs,
                 "threads (default: one per core): the two loops side by side, then the\nfive "
                 "worst-case margins")
      ->option_text("N")
      ->check(CLI::Range(1, 256));
  for (const std::string& arg : arguments) {
    if (arg == "--") {
      break;
    }
    if (arg == "-h" || arg == "--help") {
      r.info = app.help();
      return r;
    }
  }
  try {
    app.parse(std::vector<std::string>(arguments.rbegin(), arguments.rend()));
  } catch (const CLI::CallForHelp&) {
    r.info = app.help();
    return r;
  } catch (const CLI::ParseError& e) {
    throw EUsageError(UsageErrorText(app, e));
  }
  bool ended = false;
  for (const std::string& arg : app.remaining()) {
    if (!ended && arg == "--") {
      ended = true;
    } else if (!ended && (arg.rfind("--", 0) == 0 ||
                          (arg.size() > 1 && arg[0] == '-' &&
                           std::isalpha(static_cast<unsigned char>(arg[1])) != 0))) {
      throw EUsageError("unknown option " + arg.substr(0, arg.find('=')) + " with --robust");
    } else {
      r.coefficients.push_back(arg);
    }
  }
  return r;
}

Real Number(const std::string& what, const std::string& text, char separator, bool given) {
  try {
    return fp::Store(ParseNumber(text, separator));
  } catch (const Exception& e) {
    throw EUsageError(study::NumberUsageError(what, text, e, separator, given));
  }
}

// The shortest decimal that reads back to the same double: a set can be typed in again, and a
// bound is the bound, not a rounding of it.
std::string Text(double x, char separator) {
  if (std::isinf(x)) {
    return x > 0 ? "infinity" : "-infinity";
  }
  std::string t = ShortestDecimal(x);
  std::replace(t.begin(), t.end(), '.', separator);
  return t;
}

struct Study {
  robust::EnvelopeOptions options;
  std::array<bool, 5> named{};
  std::vector<int> order;  // the coefficients with an interval, in the order given
  std::string map;
  std::string report;
  std::vector<std::string> coefficients;  // the nominal set's texts as given
  std::string ratios_source = "synthesised at the nominal set";
  std::string ratios_source_russian = "синтезированы в номинальном наборе";
};

Study MakeStudy(const RobustArguments& a, char separator, bool given) {
  Study s;
  robust::CoefficientBox& box = s.options.box;
  if (!a.coefficients.empty() && a.coefficients.size() != 5) {
    throw EUsageError("expected five coefficients, got " + std::to_string(a.coefficients.size()));
  }
  for (std::size_t i = 0; i < 5; ++i) {
    box.nominal[i] = a.coefficients.empty() ? kDefaultCoefficients[i]
                                            : Number("coefficient c" + std::to_string(i + 1),
                                                     a.coefficients[i], separator, given);
    box.lo[i] = box.hi[i] = box.nominal[i];
  }
  if (a.intervals.empty()) {
    throw EUsageError("--robust needs at least one interval NAME=LO:HI");
  }
  for (const std::string& text : a.intervals) {
    const std::string shown = "--robust " + text;
    const std::size_t equals = text.find('=');
    const std::size_t colon = text.find(':', equals == std::string::npos ? 0 : equals);
    std::string name = equals == std::string::npos ? "" : text.substr(0, equals);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (equals == std::string::npos || colon == std::string::npos ||
        text.find(':', colon + 1) != std::string::npos || name.size() != 2 || name[0] != 'c' ||
        name[1] < '1' || name[1] > '5' || colon == equals + 1 || colon + 1 == text.size()) {
      throw EUsageError(shown + ": expected NAME=LO:HI with NAME one of c1 ... c5");
    }
    const auto i = static_cast<std::size_t>(name[1] - '1');
    if (s.named[i]) {
      throw EUsageError(shown + ": " + name + " is given twice");
    }
    s.named[i] = true;
    const Real lo = Number(shown, text.substr(equals + 1, colon - equals - 1), separator, given);
    const Real hi = Number(shown, text.substr(colon + 1), separator, given);
    if (lo > hi) {
      throw EUsageError(shown + ": the interval is empty (LO is above HI)");
    }
    if (std::fabs(lo) > robust::kLargestCoefficient ||
        std::fabs(hi) > robust::kLargestCoefficient) {
      throw EUsageError(shown + ": the interval reaches beyond +/-" +
                        Text(robust::kLargestCoefficient, separator) +
                        ", where the loop's polynomials are no longer decided reliably");
    }
    if (box.nominal[i] < lo || box.nominal[i] > hi) {
      throw EUsageError(
          shown + ": the nominal " + name + " = " + Text(box.nominal[i], separator) +
          " lies outside the interval; give the nominal set C1 ... C5 inside the box");
    }
    box.lo[i] = lo;
    box.hi[i] = hi;
    if (lo < hi) {
      s.order.push_back(static_cast<int>(i));
    }
  }
  if (!a.map.empty() && s.order.size() < 2) {
    throw EUsageError("--robust-map needs two coefficients with intervals of some width");
  }
  s.map = a.map;
  s.report = a.report;
  s.coefficients = a.coefficients;
  if (!a.autopilot_from.empty() && !a.autopilot.empty()) {
    throw EUsageError("--autopilot-from and --autopilot cannot be used together");
  }
  robust::Ratios& r = s.options.ratios;
  if (!a.autopilot.empty()) {
    r.muv = Number("--autopilot", a.autopilot[0], separator, given);
    r.iv = Number("--autopilot", a.autopilot[1], separator, given);
    r.nuv = Number("--autopilot", a.autopilot[2], separator, given);
    s.ratios_source = "given";
    s.ratios_source_russian = "заданы";
  } else {
    const bool from = !a.autopilot_from.empty();
    const std::string what = from ? "--autopilot-from" : "the nominal set";
    robust::Set c = box.nominal;
    if (from) {
      for (std::size_t i = 0; i < c.size(); ++i) {
        c[i] = Number(what, a.autopilot_from[i], separator, given);
      }
    }
    try {
      r = robust::SynthesisedRatios(c);
    } catch (const Exception& e) {
      throw EUsageError(what + ": the synthesis failed: " + WithFullStop(e.what()));
    }
    if (from) {
      s.ratios_source = "synthesised from --autopilot-from";
      s.ratios_source_russian = "синтезированы по --autopilot-from";
    }
  }
  if (!a.tolerance.empty()) {
    const Real t = Number("--tolerance", a.tolerance, separator, given);
    if (!(t >= 1e-15 && t < 1)) {
      throw EUsageError("--tolerance " + a.tolerance + ": takes a number from 1e-15 to below 1");
    }
    s.options.tolerance = t;
  }
  s.options.margins = !a.no_margins;
  return s;
}

const char* VerdictName(robust::Verdict v) {
  switch (v) {
    case robust::Verdict::kProven:
      return "stable";
    case robust::Verdict::kRefuted:
      return "not stable";
    case robust::Verdict::kUndecided:
      break;
  }
  return "undecided";
}

Json SetJson(const std::optional<robust::Set>& s) {
  if (!s) {
    return nullptr;
  }
  return Json(std::vector<double>(s->begin(), s->end()));
}

Json BoundsJson(const robust::Bounds& b) {
  Json j;
  j["lo"] = b.lo;
  j["hi"] = b.unbounded ? Json(nullptr) : Json(b.hi);
  j["unbounded"] = b.unbounded;
  j["set"] = SetJson(b.set);
  j["failing_condition"] = b.set ? Json(b.failing) : Json(nullptr);
  j["steps"] = b.steps;
  j["boxes"] = b.boxes;
  j["undecided"] = b.undecided;
  return j;
}

Json LoopJson(const robust::LoopEnvelope& e, robust::Loop loop, const robust::Ratios& ratios) {
  Json j;
  j["nominal_stable"] = e.nominal_stable;
  j["verdict"] = VerdictName(e.decision.verdict);
  j["stable"] = e.decision.verdict == robust::Verdict::kUndecided
                    ? Json(nullptr)
                    : Json(e.decision.verdict == robust::Verdict::kProven);
  Json certificate = nullptr;
  if (e.decision.verdict == robust::Verdict::kProven) {
    certificate = Json::object();
    Json names = Json::array();
    for (const robust::Condition& c : robust::StabilityConditions(ratios, loop)) {
      names.push_back(c.name);
    }
    certificate["positive"] = names;
    certificate["boxes"] = e.decision.boxes;
    certificate["proven_boxes"] = e.decision.proven_boxes;
  }
  j["certificate"] = certificate;
  j["destabilising_set"] = SetJson(e.decision.set);
  j["failing_condition"] = e.decision.set ? Json(e.decision.failing) : Json(nullptr);
  j["rho"] = e.nominal_stable ? BoundsJson(e.rho) : Json(nullptr);
  return j;
}

// The study's lines in one language: the printed ones in English with the shortest decimals
// that read back; the report's page in Russian, in the program's number style with the decimal
// separator, lists parted by semicolons so that a decimal comma stays unambiguous.
struct Words {
  bool russian = false;
  char sep = '.';
  const char* operator()(const char* english, const char* russian_text) const {
    return russian ? russian_text : english;
  }
  std::string Number(double x) const {
    if (!russian) {
      return Text(x, sep);
    }
    return std::isinf(x) ? (x > 0 ? "∞" : "-∞") : FormatNumber(x, sep);
  }
  // The report writes the coefficients with the Cyrillic es, as its first page does.
  std::string Name(std::size_t i) const { return (russian ? "с" : "c") + std::to_string(i + 1); }
  const char* Comma() const { return russian ? "; " : ", "; }
  std::string Condition(const std::string& name) const {
    return russian && name == "Hurwitz determinant" ? "определитель Гурвица" : name;
  }
  std::string Set(const robust::Set& s) const {
    std::string t;
    for (std::size_t i = 0; i < s.size(); ++i) {
      t += (i == 0 ? "" : Comma()) + Name(i) + " = " + Number(s[i]);
    }
    return t;
  }
};

void PrintLoop(std::ostream& out, const std::string& title, const robust::LoopEnvelope& e,
               robust::Loop loop, const robust::Ratios& ratios, double tolerance, const Words& w) {
  out << title << ":\n";
  if (!e.nominal_stable) {
    out << w("  the nominal set is not stable: the robust stability margin is 0\n",
             "  номинальный набор неустойчив: робастный запас устойчивости равен 0\n");
    return;
  }
  const robust::Decision& d = e.decision;
  switch (d.verdict) {
    case robust::Verdict::kProven: {
      std::string names;
      for (const robust::Condition& c : robust::StabilityConditions(ratios, loop)) {
        names += (names.empty() ? "" : ", ") + w.Condition(c.name);
      }
      if (w.russian) {
        out << "  устойчив при каждом наборе области (доказано: " << names
            << " положительны; подобластей с доказательством: " << d.proven_boxes
            << ", рассмотрено: " << d.boxes << ")\n";
      } else {
        out << "  stable for every set in the box (proven: " << names << " positive on "
            << d.proven_boxes << (d.proven_boxes == 1 ? " sub-box" : " sub-boxes") << ", "
            << d.boxes << " examined)\n";
      }
      break;
    }
    case robust::Verdict::kRefuted:
      out << w("  not stable for every set: ", "  устойчив не при каждом наборе: ") << w.Set(*d.set)
          << (w.russian ? " (не выполнено: " + w.Condition(d.failing) +
                              " > 0; подтверждено проверкой отдельного набора)\n"
                        : " (" + d.failing + " not positive; confirmed by the single-set test)\n");
      break;
    case robust::Verdict::kUndecided:
      out << w("  undecided", "  не решено")
          << (d.interrupted ? w(" (stopped)", " (остановлено)") : "")
          << (d.budget_exhausted ? w(" (the box needs more sub-boxes than the search allows)",
                                     " (области нужно больше подобластей, чем допускает поиск)")
                                 : "")
          << "\n";
      break;
  }
  if (d.interrupted) {
    return;
  }
  const robust::Bounds& b = e.rho;
  out << w("  stability margin rho (the box scaled about the nominal set): ",
           "  запас устойчивости ρ (область, масштабированная относительно номинального набора): ");
  const char* rho = w("rho", "ρ");
  const char* at_most = w(" <= ", " ≤ ");
  if (b.unbounded) {
    out << w("at least ", "не менее ") << w.Number(b.lo)
        << w(" (stable as far as the coefficients may grow)\n",
             " (устойчив, как бы далеко ни росли коэффициенты)\n");
  } else {
    out << w.Number(b.lo) << at_most << rho << at_most << w.Number(b.hi);
    if (b.lo > 0) {
      out << w(" (hi/lo - 1 = ", " (hi/lo − 1 = ") << w.Number(b.hi / b.lo - 1) << ")";
    }
    out << "\n";
    if (b.interrupted || b.undecided) {
      out << w("  (the bounds reached; the tolerance ", "  (достигнутые границы; допуск ")
          << w.Number(tolerance) << w(" was not)\n", " не достигнут)\n");
    }
    if (b.set) {
      out << w("  destabilising set at hi: ", "  дестабилизирующий набор на верхней границе: ")
          << w.Set(*b.set) << " (" << w.Condition(b.failing) << ")\n";
    }
  }
}

void PrintGain(std::ostream& out, const char* title, const robust::GainBounds& g, bool up,
               const Words& w) {
  const robust::Bounds& b = g.bounds;
  out << "  " << title << ": ";
  if (g.every_gain) {
    out << (up ? w("infinite (proven: stable for every gain k >= 1)\n",
                   "бесконечен (доказано: устойчив при любом усилении k ≥ 1)\n")
               : w("infinite (proven: stable for every gain k in (0, 1])\n",
                   "бесконечен (доказано: устойчив при любом усилении k ∈ (0; 1])\n"));
    return;
  }
  if (b.unbounded) {
    out << (up ? w("at least ", "не менее ") : w("at most ", "не более "))
        << w.Number(up ? b.lo : 1 / b.lo)
        << w(" (no destabilising gain found)\n", " (дестабилизирующее усиление не найдено)\n");
    return;
  }
  const char* at_most = w(" <= k <= ", " ≤ k ≤ ");
  if (up) {
    out << w.Number(b.lo) << at_most << w.Number(b.hi) << "\n";
  } else {
    out << w.Number(1 / b.hi) << at_most << w.Number(1 / b.lo) << "\n";
  }
  if (b.set) {
    out << w("    worst set: ", "    худший набор: ") << w.Set(*b.set)
        << w(", loop gain times ", "; усиление контура, умноженное на ") << w.Number(g.gain_factor)
        << w(" not stable\n", ", неустойчиво\n");
  }
}

void PrintWorst(std::ostream& out, const char* title, const char* unit,
                const robust::WorstMargin& w, const Words& words) {
  out << "  " << title << ": ";
  if (w.none) {
    out << words("none (no set of the box has a gain crossover)\n",
                 "нет (ни у одного набора области нет частоты среза)\n");
    return;
  }
  out << words.Number(w.lo) << words(" <= least <= ", " ≤ наименьший ≤ ") << words.Number(w.hi)
      << unit;
  if (w.interrupted) {
    out << words(" (the bounds reached when stopped)", " (границы, достигнутые до остановки)");
  } else if (w.budget_exhausted) {
    out << words(" (the bounds reached after ", " (границы после ") << w.boxes
        << words(" sub-boxes: the worst set lies inside the box, where 1e-6 needs more)",
                 " подобластей: худший набор лежит внутри области, где для 1e-6 нужно больше)");
  }
  out << "\n";
  if (w.set) {
    out << words("    worst set: ", "    худший набор: ") << words.Set(*w.set)
        << words(", at ", "; на частоте ") << words.Number(w.frequency)
        << words(" rad/s\n", " рад/с\n");
  }
}

Json WorstJson(const robust::WorstMargin& w) {
  if (w.none) {
    return nullptr;
  }
  Json j;
  j["lo"] = w.lo;
  j["hi"] = w.hi;
  j["set"] = SetJson(w.set);
  j["frequency"] = w.frequency;
  j["boxes"] = w.boxes;
  j["complete"] = !w.interrupted && !w.budget_exhausted;
  return j;
}

Json GainJson(const robust::GainBounds& g, bool up) {
  Json j = BoundsJson(g.bounds);
  if (!up) {
    // As factors k ≤ 1.
    j["lo"] = g.bounds.unbounded ? Json(nullptr) : Json(1 / g.bounds.hi);
    j["hi"] = 1 / g.bounds.lo;
  }
  j["gain_factor"] = g.bounds.set ? Json(g.gain_factor) : Json(nullptr);
  j["infinite"] = g.every_gain;
  if (g.every_gain) {
    j["lo"] = up ? Json(nullptr) : Json(0);
    j["hi"] = up ? Json(nullptr) : Json(0);
  }
  return j;
}

// The region map's cells along each axis.
constexpr int kMapCells = 64;

// The region map as the renderer draws it, with the nominal set and the worst set marked.
picture::RobustMapPicture MapPicture(const robust::RegionMap& m, const robust::Envelope& e,
                                     const robust::CoefficientBox& box, const Words& w) {
  picture::RobustMapPicture p;
  p.x_name = w.Name(static_cast<std::size_t>(m.x));
  p.y_name = w.Name(static_cast<std::size_t>(m.y));
  p.x_edges = m.x_edges;
  p.y_edges = m.y_edges;
  for (const robust::Cell c : m.cells) {
    p.cells.push_back(static_cast<unsigned char>(c));
  }
  const auto mark = [&](const robust::Set& set, const std::string& name) {
    const auto x = static_cast<std::size_t>(m.x);
    const auto y = static_cast<std::size_t>(m.y);
    if (set[x] >= box.lo[x] && set[x] <= box.hi[x] && set[y] >= box.lo[y] && set[y] <= box.hi[y]) {
      p.points.insert(p.points.end(), {set[x], set[y]});
      p.point_names.push_back(name);
    }
  };
  mark(box.nominal, w("nominal", "номинальный"));
  const auto inside = [&](const robust::Set& set) {
    for (std::size_t i = 0; i < set.size(); ++i) {
      if (set[i] < box.lo[i] || set[i] > box.hi[i]) {
        return false;
      }
    }
    return true;
  };
  // The destabilising set nearest the nominal set on the box's scale (rho's), else the one the
  // decision found.
  if (e.continuous.rho.set && inside(*e.continuous.rho.set) && e.continuous.nominal_stable) {
    mark(*e.continuous.rho.set, w("destabilising (at rho)", "дестабилизирующий (при ρ)"));
  } else if (e.continuous.decision.set) {
    mark(*e.continuous.decision.set, w("destabilising", "дестабилизирующий"));
  } else if (e.stability_margin && e.stability_margin->set) {
    mark(*e.stability_margin->set, w("worst (stability margin)", "худший (запас устойчивости)"));
  }
  return p;
}

// The study's lines: the box, the ratios, each loop's verdict and rho, the worst-case margins and
// the region map's counts.
std::string EnvelopeLines(const Words& w, const Study& s, const robust::Envelope& e,
                          const std::optional<robust::RegionMap>& map) {
  const robust::CoefficientBox& box = s.options.box;
  const robust::Ratios& r = s.options.ratios;
  std::ostringstream text;
  text << w("box:", "область коэффициентов:");
  for (std::size_t i = 0; i < 5; ++i) {
    text << (i == 0 ? " " : w.Comma()) << w.Name(i);
    if (box.lo[i] == box.hi[i]) {
      text << " = " << w.Number(box.lo[i]);
    } else {
      text << w(" in [", " ∈ [") << w.Number(box.lo[i]) << w.Comma() << w.Number(box.hi[i]) << "]";
    }
  }
  text << w("\nratios (", "\nпередаточные числа (")
       << (w.russian ? s.ratios_source_russian : s.ratios_source) << w("): muv = ", "): mu = ")
       << w.Number(r.muv) << w.Comma() << "iv = " << w.Number(r.iv) << w.Comma()
       << w("nuv = ", "nu = ") << w.Number(r.nuv) << "\n";
  const std::string euler_title =
      w("Euler iteration (step ", "итерация Эйлера (шаг ") + w.Number(kTimeStep) + w(" s)", " с)");
  PrintLoop(text, w("closed loop", "замкнутый контур"), e.continuous, robust::Loop::kContinuous, r,
            s.options.tolerance, w);
  if (!e.continuous.decision.interrupted && !e.continuous.rho.interrupted) {
    PrintLoop(text, euler_title, e.euler, robust::Loop::kEuler, r, s.options.tolerance, w);
  }
  if (e.gain_up && e.gain_down) {
    text << w(
        "least gain margin over the box (k*L stable for every set and every gain between 1 "
        "and k):\n",
        "наименьший запас по усилению в области (k·L устойчив при каждом наборе и каждом "
        "усилении между 1 и k):\n");
    PrintGain(text, w("gain increase", "увеличение усиления"), *e.gain_up, true, w);
    PrintGain(text, w("gain decrease", "уменьшение усиления"), *e.gain_down, false, w);
  }
  if (e.stability_margin || e.phase_margin || e.delay_margin) {
    text << w("least margins over the box and every frequency:\n",
              "наименьшие запасы в области на всех частотах:\n");
  }
  if (e.stability_margin) {
    PrintWorst(text, w("stability margin min |1 + L(jw)|", "запас устойчивости min |1 + L(jω)|"),
               "", *e.stability_margin, w);
  }
  if (e.phase_margin) {
    PrintWorst(text, w("phase margin", "запас по фазе"), w(" deg", " град"), *e.phase_margin, w);
  }
  if (e.delay_margin) {
    PrintWorst(text, w("delay margin", "запас по запаздыванию"), w(" s", " с"), *e.delay_margin, w);
  }
  if (map) {
    const auto x = static_cast<std::size_t>(map->x);
    const auto y = static_cast<std::size_t>(map->y);
    if (w.russian) {
      text << "карта области по " << w.Name(x) << " и " << w.Name(y) << " (" << kMapCells << " × "
           << kMapCells << " ячеек, остальные коэффициенты по своим интервалам): доказанно "
           << "устойчивы: " << map->counts[1] << "; доказанно неустойчивы всюду: " << map->counts[3]
           << "; с подтверждённым неустойчивым набором: " << map->counts[2]
           << "; не решено: " << map->counts[0] << "\n";
    } else {
      text << "region map over " << w.Name(x) << " and " << w.Name(y) << " (" << kMapCells << " x "
           << kMapCells << " cells, the other coefficients over their "
           << "intervals): " << map->counts[1] << " proven stable, " << map->counts[3]
           << " proven unstable everywhere, " << map->counts[2]
           << " holding a confirmed unstable set, " << map->counts[0] << " undecided\n";
    }
  }
  return text.str();
}

// The picture's bytes from the renderer; raises EPlotError or ERendererMissing.
std::string DrawMap(const robust::RegionMap& m, const robust::Envelope& e,
                    const robust::CoefficientBox& box, const std::string& path, char sep) {
  picture::Request request;
  request.content = MapPicture(m, e, box, Words{false, sep});
  request.format = *PictureFormatOfPath(path);
  request.separator = sep;
  return RenderInChild(request, FindRenderer());
}

}  // namespace

bool IsRobustRun(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--") {
      return false;
    }
    if (a == "--robust" || a.rfind("--robust=", 0) == 0) {
      return true;
    }
  }
  return false;
}

int RunRobust(const std::vector<std::string>& args, const NumberSettings& locale_settings,
              std::ostream& out, std::ostream& err, const StudyContext& context) {
  Study s;
  char sep = locale_settings.decimal_separator;
  bool progress = context.err_is_terminal;
  int jobs = 1;
  bool json = false;
  try {
    const RobustArguments a = Parse(args);
    if (a.info) {
      out << *a.info;
      return 0;
    }
    if (!a.separator.empty()) {
      sep = a.separator[0];
    }
    if (a.progress && a.no_progress) {
      throw EUsageError("--progress and --no-progress exclude each other");
    }
    progress = a.no_progress ? false : (a.progress || progress);
    jobs = a.jobs;
    json = a.json;
    s = MakeStudy(a, sep, !a.separator.empty());
  } catch (const EUsageError& e) {
    err << kProgram << ": " << EscapedText(e.what()) << "\nTry '" << kProgram
        << " --help' for more information.\n";
    return 2;
  }
  s.options.jobs =
      jobs > 0 ? jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

  std::optional<study::InterruptGuard> guard;
  if (context.stop_on_signals) {
    guard.emplace();
    s.options.limits.stop = [] { return study::InterruptSignal() != 0; };
  }
  auto last = std::chrono::steady_clock::now();
  std::size_t shown = 0;
  const auto show = [&](const std::string& stage, const robust::Bounds* b) {
    if (!progress) {
      return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - last < std::chrono::milliseconds(250)) {
      return;
    }
    last = now;
    std::string line = "robust: " + stage;
    if (b != nullptr && b->lo > 0 && !b->unbounded && b->set) {
      line += " in [" + Text(b->lo, sep) + ", " + Text(b->hi, sep) + "]";
    }
    err << '\r' << line << std::string(shown > line.size() ? shown - line.size() : 0, ' ')
        << std::flush;
    shown = line.size();
  };
  const robust::Envelope e = robust::StudyEnvelope(s.options, show);
  const robust::CoefficientBox& box = s.options.box;
  const robust::Ratios& r = s.options.ratios;
  // The region map, drawn by the renderer.
  std::optional<robust::RegionMap> map;
  std::string map_error;
  // The report shows the map over the first two coefficients with intervals, also without
  // --robust-map.
  const bool map_wanted = !s.map.empty() || (!s.report.empty() && s.order.size() >= 2);
  if (map_wanted && !e.interrupted) {
    show("region map", nullptr);
    map = robust::MapRegion(r, robust::Loop::kContinuous, box, s.order[0], s.order[1], kMapCells,
                            kMapCells, s.options.jobs, s.options.limits);
    if (!map->interrupted && !s.map.empty()) {
      try {
        WriteFileBytes(s.map, DrawMap(*map, e, box, s.map, sep));
      } catch (const Exception& x) {
        map_error = WithFullStop(x.what());
      }
    }
  }
  if (shown > 0) {
    err << '\r' << std::string(shown, ' ') << '\r' << std::flush;
    shown = 0;
  }
  if (json) {
    Json j;
    Json sides = Json::object();
    for (std::size_t i = 0; i < 5; ++i) {
      Json side;
      side["lo"] = box.lo[i];
      side["hi"] = box.hi[i];
      side["nominal"] = box.nominal[i];
      sides["c" + std::to_string(i + 1)] = side;
    }
    j["box"] = sides;
    j["ratios"] = {{"muv", r.muv}, {"iv", r.iv}, {"nuv", r.nuv}, {"source", s.ratios_source}};
    j["tolerance"] = s.options.tolerance;
    j["continuous"] = LoopJson(e.continuous, robust::Loop::kContinuous, r);
    j["euler"] = LoopJson(e.euler, robust::Loop::kEuler, r);
    Json gain = nullptr;
    if (e.gain_up && e.gain_down) {
      gain = {{"up", GainJson(*e.gain_up, true)}, {"down", GainJson(*e.gain_down, false)}};
    }
    j["least_gain_margin"] = gain;
    const auto worst = [](const std::optional<robust::WorstMargin>& w) {
      return w ? WorstJson(*w) : Json(nullptr);
    };
    j["least_stability_margin"] = worst(e.stability_margin);
    j["least_phase_margin_deg"] = worst(e.phase_margin);
    j["least_delay_margin"] = worst(e.delay_margin);
    if (map) {
      j["region_map"] = {{"file", s.map.empty() ? Json(nullptr) : Json(s.map)},
                         {"x", "c" + std::to_string(map->x + 1)},
                         {"y", "c" + std::to_string(map->y + 1)},
                         {"cells", map->cells.size()},
                         {"proven_stable", map->counts[1]},
                         {"proven_unstable", map->counts[3]},
                         {"confirmed_unstable_set", map->counts[2]},
                         {"undecided", map->counts[0]},
                         {"error", map_error.empty() ? Json(nullptr) : Json(map_error)}};
    } else {
      j["region_map"] = nullptr;
    }
    j["interrupted"] = e.interrupted || (map && map->interrupted);
    out << JsonText(j) << '\n';
  }
  // The text lines, printed unless --json; the report's section has them in Russian.
  const std::string text = EnvelopeLines(Words{false, sep}, s, e, map);
  if (!json) {
    out << text;
  }
  const bool stopped = e.interrupted || (map && map->interrupted);
  std::string report_error;
  if (!s.report.empty() && !stopped) {
    std::vector<std::string> lines;
    std::istringstream line_stream(EnvelopeLines(Words{true, sep}, s, e, map));
    for (std::string line; std::getline(line_stream, line);) {
      lines.push_back(line);
    }
    try {
      WriteFileBytes(s.report,
                     RobustReportPdf(s.coefficients, sep, lines,
                                     map ? std::optional(MapPicture(*map, e, box, Words{true, sep}))
                                         : std::nullopt));
    } catch (const Exception& x) {
      report_error = WithFullStop(x.what());
    }
  } else if (!s.report.empty()) {
    err << kProgram << ": --report " << EscapedText(s.report)
        << " was not written: the study was stopped.\n";
  }
  if (!report_error.empty()) {
    err << kProgram << ": --report " << EscapedText(s.report) << ": " << EscapedText(report_error)
        << '\n';
  }
  if (!map_error.empty()) {
    err << kProgram << ": --robust-map " << EscapedText(s.map) << ": " << EscapedText(map_error)
        << '\n';
  }
  if (stopped) {
    const int signal = study::InterruptSignal();
    err << kProgram << ": stopped by " << (signal == 15 ? "SIGTERM" : "SIGINT")
        << ": the bounds reached so far are shown\n";
    return 128 + (signal != 0 ? signal : 2);
  }
  return map_error.empty() && report_error.empty() ? 0 : 1;
}

}  // namespace pitch::cli
