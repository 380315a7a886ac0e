#include "cli/run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli_fixture.h"
#include "core/controller.h"
#include "number_text/number_settings.h"

namespace pitch::cli {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

using CliRun = CliFixture;

TEST_F(CliRun, DefaultsPrintTheFourRatios) {
  const Result r = Call({"--separator", ","});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "muv = 0,0920037424652426\niv = 0,271877699504714\nnuv = 0,0241508960470038\n"
            "Tnu = 11,2574580659687\n");
  EXPECT_EQ(r.err, "");
  // The defaults are numbers, whatever the separator.
  EXPECT_EQ(Call({"--separator", "."}).out.substr(0, 25), "muv = 0.0920037424652426\n");
}

TEST_F(CliRun, JsonOfTheDefaults) {
  const Result r = Call({"--json"});
  EXPECT_EQ(r.code, 0);
  const Json j = Json::parse(r.out);
  EXPECT_EQ(j["coefficients"], Json({0.88, 0.404, 7.028, 0.987, 0.251}));
  EXPECT_EQ(j["ratios"], Json({{"muv", 0.09200374246524264},
                               {"iv", 0.27187769950471413},
                               {"nuv", 0.024150896047003753},
                               {"Tnu", 11.257458065968706}}));
  ASSERT_EQ(j["response"].size(), 1000u);
  EXPECT_EQ(j["response"][0], 0.017453292519943295);
  EXPECT_EQ(j["response"][1], 0);
  EXPECT_TRUE(j["error"].is_null());
  // The analysis of the loop comes with it.
  EXPECT_EQ(j["poles"]["stable"], true);
  ASSERT_EQ(j["poles"]["values"].size(), 3u);
  EXPECT_NEAR(j["poles"]["values"][0]["re"].get<double>(), -0.911245296807213, 1e-14);
  EXPECT_EQ(j["poles"]["values"][0]["pair"], true);
  EXPECT_EQ(j["metrics"]["peak"], 1.1295893362172837);
  EXPECT_EQ(j["metrics"]["peak_time"], 3.05);
  EXPECT_EQ(j["metrics"]["settled"], false);
  EXPECT_TRUE(j["metrics"]["settling_time"].is_null());
  EXPECT_NEAR(j["metrics"]["exact_settling_time"].get<double>(), 18.025, 1e-3);
  EXPECT_NEAR(j["exact_error"]["max_abs"].get<double>(), 0.00412, 1e-5);
  EXPECT_EQ(j["exact_error"]["time"], 2);
  // The members in their documented order.
  std::vector<std::string> keys;
  const nlohmann::ordered_json ordered = nlohmann::ordered_json::parse(r.out);
  for (const auto& [key, value] : ordered.items()) {
    keys.push_back(key);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"coefficients", "ratios", "response", "poles",
                                            "metrics", "exact_error", "margins", "margins_error",
                                            "error", "euler_iteration", "errors", "skipped"}));
  // The Euler iteration is stable: its slowest mode shrinks by 1 − 0.0982·0.01 per step; the
  // complex pair bounds the step at −2·Re λ / |λ|².
  EXPECT_EQ(j["euler_iteration"]["step"], 0.01);
  EXPECT_NEAR(j["euler_iteration"]["spectral_radius"].get<double>(), 1 - 0.0981913152537886 * 0.01,
              1e-12);
  EXPECT_EQ(j["euler_iteration"]["stable"], true);
  EXPECT_NEAR(j["euler_iteration"]["largest_stable_step"].get<double>(),
              2 * 0.911245296807213 /
                  (0.911245296807213 * 0.911245296807213 + 1.09146212630551 * 1.09146212630551),
              1e-12);
  EXPECT_EQ(j["metrics"]["diverging_iteration"], false);
  EXPECT_EQ(j["errors"], Json::array());
  EXPECT_EQ(j["skipped"], Json::array());
}

TEST_F(CliRun, MetricsOfTheDefaults) {
  const Result r = Call({"--separator", ",", "--metrics"});
  EXPECT_EQ(r.code, 0);
  for (const char* line : {
           "poles:\n  -0,911245296807213 +/- 1,09146212630551j  damping ratio 0,64",
           "\n  -0,843920393177513  time constant 1,18",
           "\n  -0,0981913152537886  time constant 10,18",
           "\nstable (continuous loop): yes\n"
           "Euler iteration (step 0,01 s):\n"
           "  spectral radius of I + A*dt: 0,99901",
           "\n  stable: yes\n  largest stable step: 0,9014",
           "\nstep response (Euler, 0 to 9,99 s):\n",
           "\n  peak: 1,12958933621728 at 3,05 s\n",
           "\n  settling time 2 %: not settled within 9,99 s\n",
           "\n  deviation at 9,99 s: 0,0440453627640014\n",
           "\n  largest |Euler - exact|: 0,00412",
           " at 2 s\n",
           "exact continuous response:\n  largest",
           "\n  settling time 2 %: 18,0",
       }) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\nin\n" << r.out;
  }
}

TEST_F(CliRun, AnalysisFollowsWhatTheCalculationReached) {
  // The simulation overflowed: poles, but no characteristics.
  const Json diverging =
      Json::parse(Call({"--json", "400", "0.404", "7.028", "0.987", "0.251"}).out);
  EXPECT_EQ(diverging["poles"]["stable"], true);
  EXPECT_TRUE(diverging["metrics"].is_null());
  EXPECT_TRUE(diverging["exact_error"].is_null());
  EXPECT_EQ(diverging["euler_iteration"]["stable"], false);
  const Result metrics = Call({"--metrics", "400", "0.404", "7.028", "0.987", "0.251"});
  EXPECT_NE(metrics.out.find("stable (continuous loop): yes\n"), std::string::npos);
  EXPECT_NE(metrics.out.find("\n  stable: no, the samples diverge\n"), std::string::npos);
  EXPECT_EQ(metrics.out.find("peak:"), std::string::npos);
  // The synthesis failed: nothing to analyse.
  const Json failed = Json::parse(Call({"--json", "0.88", "0.2", "7.028", "0.987", "0.251"}).out);
  EXPECT_TRUE(failed["poles"].is_null());
  EXPECT_TRUE(failed["metrics"].is_null());
  EXPECT_TRUE(failed["exact_error"].is_null());
  EXPECT_TRUE(failed["euler_iteration"].is_null());
}

// c1 = 150: the continuous loop is stable, but its fastest pole (about −297.7) makes the Euler
// step of 0.01 s diverge; the characteristics then describe the divergence, and say so.
TEST_F(CliRun, AStableLoopWhoseEulerIterationDiverges) {
  const std::vector<std::string> loop = {"150", "0.404", "7.028", "0.987", "0.251"};
  std::vector<std::string> args = {"--metrics"};
  args.insert(args.end(), loop.begin(), loop.end());
  const Result text = Call(args);
  EXPECT_EQ(text.code, 0);
  for (const char* line : {
           "\nstable (continuous loop): yes\nEuler iteration (step 0.01 s):\n"
           "  spectral radius of I + A*dt: 1.97733356532672\n"
           "  stable: no, the samples diverge\n"
           "  largest stable step: 0.0067174199871",
           "\nstep response (Euler, 0 to 9.99 s, of a diverging iteration):\n",
       }) {
    EXPECT_NE(text.out.find(line), std::string::npos) << line << "\nin\n" << text.out;
  }
  args[0] = "--json";
  const Json j = Json::parse(Call(args).out);
  EXPECT_EQ(j["poles"]["stable"], true);
  EXPECT_EQ(j["euler_iteration"]["stable"], false);
  EXPECT_NEAR(j["euler_iteration"]["spectral_radius"].get<double>(), 1.97733356532672, 1e-12);
  EXPECT_NEAR(j["euler_iteration"]["largest_stable_step"].get<double>(), 2 / 297.733356532672,
              1e-6);
  EXPECT_EQ(j["metrics"]["diverging_iteration"], true);
}

// A number written with the other decimal separator gets a second line: the separator in force,
// where it comes from, and the option that reads the other one.
TEST_F(CliRun, SeparatorHint) {
  struct Row {
    const char* name;
    std::vector<std::string> args;
    char locale_separator;
    std::string hint;  // empty: no second line
  };
  const Row rows[] = {
      {"comma_under_full_stop_locale",
       {"0,88", "0,404", "7,028", "0,987", "0,251"},
       '.',
       "The decimal separator is '.' (the locale's); a number written with ',' needs "
       "--separator ,"},
      {"full_stop_under_comma_locale",
       {"0.88", "0.404", "7.028", "0.987", "0.251"},
       ',',
       "The decimal separator is ',' (the locale's); a number written with '.' needs "
       "--separator ."},
      {"full_stop_under_option",
       {"--separator", ",", "0,88", "0.404", "7,028", "0,987", "0,251"},
       '.',
       "The decimal separator is ',' (--separator); a number written with '.' needs "
       "--separator ."},
      {"not_a_separator_matter", {"0.88", "0.404", "abc", "0.987", "0.251"}, '.', ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const NumberSettings settings{row.locale_separator, "UTF-8"};
    const Result r = Call(row.args, settings);
    EXPECT_EQ(r.code, 1);
    const std::string first_line = r.err.substr(0, r.err.find('\n') + 1);
    EXPECT_EQ(first_line.find("' is not a valid floating point value.\n"), first_line.size() - 39);
    EXPECT_EQ(r.err, first_line + (row.hint.empty() ? "" : row.hint + "\n"));

    std::vector<std::string> json_args = row.args;
    json_args.insert(json_args.begin(), "--json");
    const Json j = Json::parse(Call(json_args, settings).out);
    EXPECT_EQ(j["error"].size(), 3u);  // kind, message, stage as before
    ASSERT_EQ(j["errors"].size(), 1u);
    EXPECT_EQ(j["errors"][0].value("hint", ""), row.hint);
  }
}

// Every error of the run is in "errors", the calculation's first; "error" stays the first one.
TEST_F(CliRun, EveryErrorInJson) {
  const std::string results = Path("missing/r.txt");
  const std::string csv = Path("missing/r.csv");
  const Json overflow = Json::parse(
      Call({"--json", "--results", results, "400", "0.404", "7.028", "0.987", "0.251"}).out);
  EXPECT_EQ(overflow["error"], Json({{"kind", "EOverflow"},
                                     {"message", "Floating point overflow."},
                                     {"stage", "response"}}));
  EXPECT_EQ(overflow["errors"], Json::parse(R"([
      {"kind": "EOverflow", "message": "Floating point overflow.", "stage": "response"},
      {"kind": "EInOutError", "message": "Invalid file name - )" +
                                            results + R"(.",
       "stage": "files", "file": ")" + results +
                                            R"("}])"));

  const Result files = Call({"--json", "--results", results, "--csv", csv});
  EXPECT_EQ(files.code, 1);
  const Json j = Json::parse(files.out);
  EXPECT_EQ(j["error"]["message"], "Invalid file name - " + results + ".");
  ASSERT_EQ(j["errors"].size(), 2u);
  EXPECT_EQ(j["errors"][1]["file"], csv);
  EXPECT_EQ(files.err, "pitch-autopilot-cli: Invalid file name - " + results +
                           ".\npitch-autopilot-cli: Invalid file name - " + csv + ".\n");
}

// A file that the outcome does not allow is named, on stderr and in JSON.
TEST_F(CliRun, SkippedFilesAreSaid) {
  struct Row {
    const char* name;
    std::vector<std::string> coefficients;
    std::vector<std::string> options;  // FILE stands for a path in the test's folder
    std::string message;
    Json skipped;  // option and reason of each
  };
  const Row rows[] = {
      {"simulation_overflowed",
       {"400", "0.404", "7.028", "0.987", "0.251"},
       {"--csv", "FILE", "--plot", "FILE", "--results", "FILE"},
       "Floating point overflow.",
       Json::array({{"--csv", "the simulation did not complete"},
                    {"--plot", "the simulation did not complete"}})},
      {"synthesis_failed",
       {"0.88", "0.2", "7.028", "0.987", "0.251"},
       {"--bode", "FILE", "--csv", "FILE", "--results", "FILE", "--plot", "FILE"},
       "Invalid floating point operation.",
       Json::array({{"--csv", "the simulation did not complete"},
                    {"--plot", "the simulation did not complete"},
                    {"--bode", "the gear ratios are not known"}})},
      {"input_error",
       {"0.88", "0.404", "x", "0.987", "0.251"},
       {"--results", "FILE", "--csv", "FILE"},
       "'x' is not a valid floating point value.",
       Json::array({{"--results", "the coefficients could not be read"},
                    {"--csv", "the simulation did not complete"}})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> args = row.options;
    std::string expected_err = "pitch-autopilot-cli: " + row.message + "\n";
    for (std::size_t k = 0; k + 1 < args.size(); k += 2) {
      const bool picture = args[k] == "--plot" || args[k] == "--bode";
      args[k + 1] = Path("out" + std::to_string(k) + (picture ? ".png" : ".txt"));
    }
    for (const Json& skip : row.skipped) {
      const auto option = std::find(args.begin(), args.end(), skip[0].get<std::string>());
      expected_err += "pitch-autopilot-cli: " + skip[0].get<std::string>() + " " + *(option + 1) +
                      " was not written: " + skip[1].get<std::string>() + ".\n";
    }
    args.insert(args.end(), row.coefficients.begin(), row.coefficients.end());
    const Result r = Call(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, expected_err);

    args.insert(args.begin(), "--json");
    const Json j = Json::parse(Call(args).out);
    ASSERT_EQ(j["skipped"].size(), row.skipped.size());
    for (std::size_t k = 0; k < row.skipped.size(); ++k) {
      EXPECT_EQ(j["skipped"][k]["option"], row.skipped[k][0]);
      EXPECT_EQ(j["skipped"][k]["reason"], row.skipped[k][1]);
      EXPECT_FALSE(fs::exists(j["skipped"][k]["file"].get<std::string>()));
    }
  }
}

// The margins of the loop broken at the autopilot's command, with the reference toolbox's
// figures; like the poles they need the ratios only.
TEST_F(CliRun, MarginsInJson) {
  struct Row {
    const char* name;
    std::vector<std::string> args;
    bool stable;
    std::optional<double> gain_factor;  // empty: infinite
    double phase_margin;
    double crossover;
    double delay;
    double stability;
  };
  const Row rows[] = {
      {"defaults", {}, true, std::nullopt, 65.0249, 1.22106, 0.929438, 0.894139},
      {"negative c3",
       {"0.88", "0.404", "-7.028", "0.987", "0.251"},
       true,
       1.23832,
       17.5742,
       0.459838,
       0.667035,
       0.16878},
      {"unstable",
       {"1.112", "0.927", "7.008", "-0.501", "-1.807"},
       false,
       1.38615,
       -23.2070,
       0.249670,
       23.5437,
       0.239749},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> args = {"--json", "--"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Json m = Json::parse(Call(args).out)["margins"];
    ASSERT_TRUE(m.is_object()) << m;
    EXPECT_EQ(m["closed_loop_stable"], row.stable);
    EXPECT_EQ(m["gain_margin"]["infinite"], !row.gain_factor);
    if (row.gain_factor) {
      const double factor = m["gain_margin"]["factor"].get<double>();
      EXPECT_NEAR(factor, *row.gain_factor, 5e-6);
      EXPECT_NEAR(m["gain_margin"]["db"].get<double>(), 20 * std::log10(factor), 1e-12);
      ASSERT_EQ(m["phase_crossings"].size(), 1u);
      EXPECT_EQ(m["phase_crossings"][0]["factor"], m["gain_margin"]["factor"]);
      EXPECT_EQ(m["phase_crossings"][0]["frequency"], m["gain_margin"]["frequency"]);
      EXPECT_EQ(m["phase_crossings"][0]["phase"], -180);
    } else {
      EXPECT_TRUE(m["gain_margin"]["factor"].is_null());
      EXPECT_TRUE(m["gain_margin"]["db"].is_null());
      EXPECT_EQ(m["phase_crossings"], Json::array());
    }
    EXPECT_NEAR(m["phase_margin"]["degrees"].get<double>(), row.phase_margin, 5e-4);
    EXPECT_NEAR(m["phase_margin"]["frequency"].get<double>(), row.crossover, 5e-6 * row.crossover);
    EXPECT_NEAR(m["delay_margin"].get<double>(), row.delay, 5e-4 * row.delay);
    EXPECT_NEAR(m["stability_margin"]["value"].get<double>(), row.stability, 5e-6);
    ASSERT_EQ(m["gain_crossovers"].size(), 1u);
    EXPECT_EQ(m["gain_crossovers"][0]["delay_margin"], m["delay_margin"]);
  }
  // The simulation overflowed, but the ratios are known: margins as with the poles.
  const Json diverging =
      Json::parse(Call({"--json", "400", "0.404", "7.028", "0.987", "0.251"}).out);
  EXPECT_EQ(diverging["margins"]["closed_loop_stable"], diverging["poles"]["stable"]);
  // A stability margin reached only as ω → ∞ has no frequency.
  const Json limit =
      Json::parse(Call({"--json", "--", "-48.232367270723934", "1.5044120160546122",
                        "-26.989190254336904", "-0.08768695146752414", "0.10350617979093144"})
                      .out)["margins"]["stability_margin"];
  EXPECT_EQ(limit, Json({{"value", 1}, {"frequency", nullptr}, {"infinite_frequency", true}}));
  // The synthesis failed: no margins.
  EXPECT_TRUE(Json::parse(Call({"--json", "0.88", "0.2", "7.028", "0.987", "0.251"}).out)["margins"]
                  .is_null());
}

TEST_F(CliRun, MarginsInTheMetricsText) {
  const Result defaults = Call({"--separator", ",", "--metrics"});
  for (const char* line : {
           "\nloop margins (loop broken at the autopilot's command):\n"
           "  gain margin: infinite (the phase does not cross -180 deg)\n"
           "  phase margin: 65,02489",
           " deg at 1,221058",
           "\n  delay margin: 0,929438",
           "\n  stability margin min |1 + L(jw)|: 0,8941385",
           " at 2,06715",
           "\n  phase crossings (-180 deg + k*360 deg): none\n"
           "  gain crossovers (|L| = 1):\n    1,221058",
       }) {
    EXPECT_NE(defaults.out.find(line), std::string::npos) << line << "\nin\n" << defaults.out;
  }
  EXPECT_EQ(defaults.out.find("unstable"), std::string::npos);

  const Result negative = Call({"--metrics", "0.88", "0.404", "-7.028", "0.987", "0.251"});
  for (const char* line : {"\n  gain margin: 1.238323", " dB) at 0.6967944",
                           "\n  phase crossings (-180 deg + k*360 deg):\n    0.6967944",
                           " rad/s: gain margin 1.238323", ", phase -180 deg\n"}) {
    EXPECT_NE(negative.out.find(line), std::string::npos) << line << "\nin\n" << negative.out;
  }
  const Result unstable = Call({"--metrics", "1.112", "0.927", "7.008", "-0.501", "-1.807"});
  EXPECT_NE(unstable.out.find("command):\n  the closed loop is unstable: these are not stability "
                              "margins\n"),
            std::string::npos)
      << unstable.out;
  EXPECT_EQ(Call({"--metrics", "0.88", "0.2", "7.028", "0.987", "0.251"}).out.find("margins"),
            std::string::npos);
}

// A pole or zero of L on the imaginary axis is said in words, never listed as a crossing; loops
// without one print no such line or key.
TEST_F(CliRun, PolesAndZerosOfTheLoopOnTheAxisApart) {
  // c1 + c4 + c5 = 0: poles at ±j·1.19…, where the phase jumps by 180° without crossing.
  const std::vector<std::string> pole = {"--", "0.25", "1.3", "-5.0", "0.5", "-0.75"};
  std::vector<std::string> text = {"--metrics"};
  text.insert(text.end(), pole.begin(), pole.end());
  const std::string out = Call(text).out;
  EXPECT_NE(out.find("  phase crossings (-180 deg + k*360 deg): none\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  poles of L on the imaginary axis, s = +-jw (|L| infinite, no crossing):\n"
                     "    1.19373363863133 rad/s\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("zeros of L"), std::string::npos) << out;
  std::vector<std::string> json = {"--json"};
  json.insert(json.end(), pole.begin(), pole.end());
  const Json m = Json::parse(Call(json).out)["margins"];
  EXPECT_EQ(m["phase_crossings"], Json::array());
  ASSERT_EQ(m["axis_poles"].size(), 1u);
  EXPECT_NEAR(m["axis_poles"][0].get<double>(), 1.1937336386313322, 1e-15);
  EXPECT_FALSE(m.contains("axis_zeros"));

  const std::string defaults = Call({"--metrics"}).out;
  EXPECT_EQ(defaults.find("imaginary axis"), std::string::npos) << defaults;
  EXPECT_FALSE(Json::parse(Call({"--json"}).out)["margins"].contains("axis_poles"));
}

TEST_F(CliRun, CsvWithTheExactColumn) {
  const std::string path = Path("exact.csv");
  ASSERT_EQ(Call({"--csv", path, "--exact"}).code, 0);
  const std::string csv = Read(path);
  EXPECT_EQ(csv.rfind("t,h,exact\n0,0.017453292519943295,0\n0.01,0,", 0), 0u) << csv.substr(0, 80);
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1001);
}

// The exact response of this unstable loop leaves the double range after 7.6 s while the Euler
// samples stay finite. Said in words, empty exact cells past that point, null with a reason in
// JSON; never a NaN or an infinity in any output.
TEST_F(CliRun, ExactResponseBeyondTheDoubleRange) {
  const std::vector<std::string> loop = {"--",
                                         "-48.232367270723934",
                                         "1.5044120160546122",
                                         "-26.989190254336904",
                                         "-0.08768695146752414",
                                         "0.10350617979093144"};
  const auto with = [&loop](std::vector<std::string> options) {
    options.insert(options.end(), loop.begin(), loop.end());
    return options;
  };
  // A NaN or an infinity written as a number is a word of its own ("infinite" in the loop
  // margins is text).
  const auto no_nan_or_infinity = [](const std::string& text) {
    static const std::regex number("(^|[^a-z])(nan|inf|infinity)([^a-z]|$)", std::regex::icase);
    return !std::regex_search(text, number);
  };

  const std::string path = Path("n.csv");
  const Result text = Call(with({"--metrics", "--csv", path, "--exact"}));
  EXPECT_EQ(text.code, 0);
  EXPECT_NE(text.out.find("\nexact continuous response:\n  largest |Euler - exact|: none, the "
                          "exact response exceeds the double range after t = 7.6 s\n"),
            std::string::npos)
      << text.out;
  EXPECT_TRUE(no_nan_or_infinity(text.out)) << text.out;

  const std::string csv = Read(path);
  EXPECT_TRUE(no_nan_or_infinity(csv));
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1001);
  EXPECT_NE(csv.find("\n7.6,1.1885986629004227e+215,8.908156568530739e+305\n"
                     "7.61,2.3010011153361866e+215,\n"),
            std::string::npos);
  EXPECT_NE(csv.find("\n9.99,4.362502412579509e+283,\n"), std::string::npos);

  const Result json = Call(with({"--json"}));
  EXPECT_EQ(json.code, 0);
  EXPECT_TRUE(no_nan_or_infinity(json.out));
  EXPECT_EQ(Json::parse(json.out)["exact_error"],
            Json({{"max_abs", nullptr},
                  {"time", nullptr},
                  {"reason", "the exact response exceeds the double range"},
                  {"exact_range_end", 7.6}}));
}

TEST_F(CliRun, PlotGoesThroughTheRenderer) {
  PlotRequest seen{};
  std::size_t points = 0;
  const auto renderer = [&](const PlotRequest& request) {
    seen = request;
    points = request.t.size();
    return std::string("picture");
  };
  std::ostringstream out;
  std::ostringstream err;
  const std::string path = Path("chart.SVG");
  EXPECT_EQ(cli::Run({"--separator", ",", "--plot", path, "--size", "640x480"}, kSettings, out, err,
                     renderer),
            0);
  EXPECT_EQ(Read(path), "picture");
  EXPECT_EQ(points, 1000u);
  EXPECT_TRUE(seen.svg);
  EXPECT_EQ(seen.width, 640);
  EXPECT_EQ(seen.height, 480);
  EXPECT_EQ(seen.separator, ',');
  // Without a completed simulation there is no picture.
  EXPECT_EQ(cli::Run({"--plot", Path("none.png"), "400", "0.404", "7.028", "0.987", "0.251"},
                     kSettings, out, err, renderer),
            1);
  EXPECT_FALSE(fs::exists(Path("none.png")));
}

TEST_F(CliRun, BodeGoesThroughTheRenderer) {
  // What the renderer was asked for (the request refers to the run's data, gone after it).
  struct Seen {
    std::size_t points;
    std::size_t crossovers;
    int width;
    int height;
    bool svg;
    char separator;
  };
  std::optional<Seen> seen;
  const BodeRenderer renderer = [&](const BodeRequest& request) {
    seen = Seen{request.data.frequency.size(),
                request.data.margins.phase.size(),
                request.width,
                request.height,
                request.svg,
                request.separator};
    return std::string("bode");
  };
  std::ostringstream out;
  std::ostringstream err;
  const std::string path = Path("bode.Svg");
  EXPECT_EQ(cli::Run({"--separator", ",", "--bode", path}, kSettings, out, err, {}, renderer), 0);
  EXPECT_EQ(Read(path), "bode");
  ASSERT_TRUE(seen);
  EXPECT_GT(seen->points, 400u);
  EXPECT_EQ(seen->crossovers, 1u);
  EXPECT_TRUE(seen->svg);
  EXPECT_EQ(seen->width, 800);
  EXPECT_EQ(seen->height, 640);
  EXPECT_EQ(seen->separator, ',');
  // The default output stays the four ratios.
  EXPECT_EQ(out.str().find("margins"), std::string::npos);
  // --size applies to both pictures.
  seen.reset();
  PlotRequest plot{};
  const PlotRenderer plot_renderer = [&](const PlotRequest& request) {
    plot = request;
    return std::string("plot");
  };
  EXPECT_EQ(cli::Run({"--bode", Path("b.png"), "--plot", Path("p.png"), "--size", "640x480"},
                     kSettings, out, err, plot_renderer, renderer),
            0);
  ASSERT_TRUE(seen);
  EXPECT_FALSE(seen->svg);
  EXPECT_EQ(seen->width, 640);
  EXPECT_EQ(plot.height, 480);
  EXPECT_EQ(Read(Path("b.png")), "bode");
  // The ratios are known although the simulation overflowed: a diagram, no response chart.
  seen.reset();
  EXPECT_EQ(cli::Run({"--bode", Path("o.png"), "--plot", Path("q.png"), "400", "0.404", "7.028",
                      "0.987", "0.251"},
                     kSettings, out, err, plot_renderer, renderer),
            1);
  EXPECT_TRUE(seen);
  EXPECT_TRUE(fs::exists(Path("o.png")));
  EXPECT_FALSE(fs::exists(Path("q.png")));
  // The synthesis failed: no diagram, no error beyond the calculation's, and the file is named
  // as skipped, like --csv and --plot.
  std::ostringstream failed_err;
  EXPECT_EQ(cli::Run({"--bode", Path("none.png"), "0.88", "0.2", "7.028", "0.987", "0.251"},
                     kSettings, out, failed_err, {}, renderer),
            1);
  EXPECT_FALSE(fs::exists(Path("none.png")));
  EXPECT_EQ(failed_err.str(),
            "pitch-autopilot-cli: Invalid floating point operation.\n"
            "pitch-autopilot-cli: --bode " +
                Path("none.png") + " was not written: the gear ratios are not known.\n");
  // Without a renderer the picture is an error of its own, and nothing is written.
  std::ostringstream missing_err;
  EXPECT_EQ(cli::Run({"--bode", Path("x.png")}, kSettings, out, missing_err), 1);
  EXPECT_EQ(missing_err.str(),
            "pitch-autopilot-cli: --bode " + Path("x.png") + ": Plot export is not available.\n");
  EXPECT_FALSE(fs::exists(Path("x.png")));
}

TEST_F(CliRun, FailuresByStage) {
  struct Row {
    std::vector<std::string> args;
    std::string kind;
    std::string message;
    std::string stage;
    Json coefficients;  // what the controller still holds: null after an input error
    Json muv;           // null: no ratios (after an input error)
  };
  const Row rows[] = {
      {{"0.88", "0.404", "abc", "0.987", "0.251"},
       "EConvertError",
       "'abc' is not a valid floating point value.",
       "input",
       nullptr,
       nullptr},
      {{"0.88", "1e400", "7.028", "0.987", "0.251"},
       "EOverflow",
       "Floating point overflow.",
       "input",
       nullptr,
       nullptr},
      {{"0.5", "0", "-1", "1", "0"},
       "EZeroDivide",
       "Floating point division by zero.",
       "ratios",
       {0.5, 0, -1, 1, 0},
       0.5},
      {{"400", "0.404", "7.028", "0.987", "0.251"},
       "EOverflow",
       "Floating point overflow.",
       "response",
       {400, 0.404, 7.028, 0.987, 0.251},
       56.69797918297736},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args[2]);
    const Result plain = Call(row.args);
    EXPECT_EQ(plain.code, 1);
    EXPECT_EQ(plain.err, "pitch-autopilot-cli: " + row.message + "\n");

    std::vector<std::string> json_args = {"--json", "--csv", Path("never.csv")};
    json_args.insert(json_args.end(), row.args.begin(), row.args.end());
    const Result json = Call(json_args);
    EXPECT_EQ(json.code, 1);
    const Json j = Json::parse(json.out);
    EXPECT_EQ(j["error"],
              Json({{"kind", row.kind}, {"message", row.message}, {"stage", row.stage}}));
    EXPECT_EQ(j["coefficients"], row.coefficients);
    if (row.muv.is_null()) {
      // As in a study's rows, not zeros that read as values.
      EXPECT_TRUE(j["ratios"].is_null());
      EXPECT_TRUE(j["response"].is_null());
    } else {
      EXPECT_EQ(j["ratios"]["muv"], row.muv);
    }
    EXPECT_FALSE(fs::exists(Path("never.csv")));
  }
  // The samples before the overflow are kept.
  const Json overflow =
      Json::parse(Call({"--json", "400", "0.404", "7.028", "0.987", "0.251"}).out);
  EXPECT_EQ(overflow["response"][365], -1.098522555161258e+305);
  EXPECT_EQ(overflow["response"][366], 0);
}

// Argument bytes that are not UTF-8 reach the JSON text as U+FFFD, so the output stays JSON.
TEST_F(CliRun, JsonIsValidUtf8ForAnyArgumentBytes) {
  const Result input = Call({"--json", "\xff\xfe", "1", "1", "1", "1"});
  EXPECT_EQ(input.code, 1);
  const Json j = Json::parse(input.out);  // throws on invalid UTF-8
  EXPECT_EQ(j["error"]["message"],
            "'\xEF\xBF\xBD\xEF\xBF\xBD' is not a valid floating point value.");
  // Stderr gets the bytes as they came.
  EXPECT_EQ(input.err, "pitch-autopilot-cli: '\xff\xfe' is not a valid floating point value.\n");

  const std::string path = Path("missing\xc3/r.txt");
  const Json file = Json::parse(Call({"--json", "--results", path}).out);
  EXPECT_EQ(file["error"]["message"], "Invalid file name - " + Path("missing\xEF\xBF\xBD/r.txt."));
}

TEST_F(CliRun, AfterASimulationOverflowTheRatiosAreStillPrinted) {
  const Result r = Call({"400", "0.404", "7.028", "0.987", "0.251"});
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "muv = 56.6979791829774");
}

TEST_F(CliRun, CsvHoldsTheSampleTimesAndTheResponse) {
  const std::string path = Path("response.csv");
  const Result r = Call({"--csv", path});
  EXPECT_EQ(r.code, 0);
  const std::string csv = Read(path);
  std::istringstream lines(csv);
  std::string line;
  std::vector<std::string> rows;
  while (std::getline(lines, line)) {
    rows.push_back(line);
  }
  ASSERT_EQ(rows.size(), 1001u);
  EXPECT_EQ(rows[0], "t,h");
  EXPECT_EQ(rows[1], "0,0.017453292519943295");
  EXPECT_EQ(rows[2], "0.01,0");
  EXPECT_EQ(rows[1000].rfind("9.99,", 0), 0u);
  // Each time reads back to the Real nearest to (i − 1)/100.
  for (int i = 1; i <= kSampleCount; ++i) {
    EXPECT_EQ(std::stod(rows[i].substr(0, rows[i].find(','))), (i - 1) / 100.0) << rows[i];
  }
}

TEST_F(CliRun, CsvThatCannotBeWrittenIsAnError) {
  const Result r = Call({"--csv", Path("missing/response.csv")});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("missing/response.csv"), std::string::npos);
}

TEST_F(CliRun, ResultsFileAsSaveWouldWriteIt) {
  struct Row {
    std::vector<std::string> args;
    int code;
    std::string ratio_lines;  // empty: no file at all
  };
  const Row rows[] = {
      {{"--separator", ","},
       0,
       "muv = 0,0920037424652426\r\niv = 0,271877699504714\r\nnuv = 0,0241508960470038\r\n"
       "Tnu = 11,2574580659687\r\n"},
      // The synthesis failed after storing muv: the file pairs it with the other zeros.
      {{"0.5", "0", "-1", "1", "0"}, 1, "muv = 0.5\r\niv = 0\r\nnuv = 0\r\nTnu = 0\r\n"},
      {{"0.5", "x", "-1", "1", "0"}, 1, ""},
  };
  for (const Row& row : rows) {
    const std::string path = Path("Result_1.txt");
    fs::remove(path);
    std::vector<std::string> args = {"--results", path};
    args.insert(args.end(), row.args.begin(), row.args.end());
    EXPECT_EQ(Call(args).code, row.code);
    if (row.ratio_lines.empty()) {
      EXPECT_FALSE(fs::exists(path));
      continue;
    }
    const std::string file = Read(path);
    ASSERT_GT(file.size(), row.ratio_lines.size());
    EXPECT_EQ(file.substr(file.size() - row.ratio_lines.size()), row.ratio_lines);
  }
}

TEST_F(CliRun, ResultsFileErrorIsReported) {
  const std::string path = Path("missing/Result_1.txt");
  const Result r = Call({"--json", "--results", path});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "pitch-autopilot-cli: Invalid file name - " + path + ".\n");
  EXPECT_EQ(Json::parse(r.out)["error"], Json({{"kind", "EInOutError"},
                                               {"message", "Invalid file name - " + path + "."},
                                               {"stage", "files"}}));
}

// A usage error is one line naming the fault, then a pointer to --help; nothing on stdout.
TEST_F(CliRun, UsageErrors) {
  struct Row {
    std::vector<std::string> args;
    std::string message;
  };
  const Row rows[] = {
      {{"1", "2", "3", "4"}, "expected five coefficients, got 4"},
      {{"1", "2", "3", "4", "5", "6"}, "expected five coefficients, got 6"},
      {{"--separator", ";"}, "--separator: takes ',' or '.'"},
      // An option without its value says what it takes, not CLI11's "1 required TEXT".
      {{"--separator"}, "--separator needs a value (,|.)"},
      {{"--csv"}, "--csv needs a value (FILE)"},
      {{"--sweep"}, "--sweep needs a value (NAME=FROM:TO:COUNT)"},
      {{"--results", ""}, "--results: needs a file name"},
      {{"--exact"}, "--exact requires --csv"},
      {{"--size", "100x100"}, "--size requires --plot or --bode"},
      {{"--plot", "chart.jpg"}, "--plot: writes .png or .svg files"},
      {{"--bode", "bode.jpg"}, "--bode: writes .png or .svg files"},
      {{"--bode", ""}, "--bode: needs a file name"},
      {{"--bode", "bode.png", "--size", "15x100"}, "--size: takes WxH"},
      {{"--plot", "chart.png", "--size", "0x100"}, "--size: takes WxH"},
      {{"--plot", "chart.png", "--size", "10001x100"}, "--size: takes WxH"},
      {{"--plot", "chart.png", "--size", "wide"}, "--size: takes WxH"},
      {{"--metrics=yes"}, "metrics"},
      {{"--json=yes"}, "json"},
      {{"--frobnicate"}, "unknown option --frobnicate"},
      {{"--frobnicate=1", "--json"}, "unknown option --frobnicate"},
      {{"-v"}, "unknown option -v"},
      {{"-V", "--json"}, "unknown option -V"},
      {{"1", "2", "3", "4", "-e5"}, "unknown option -e5"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args[0]);
    const Result r = Call(row.args);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("pitch-autopilot-cli: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
    EXPECT_NE(r.err.find("\nTry 'pitch-autopilot-cli --help' for more information.\n"),
              std::string::npos);
  }
}

TEST_F(CliRun, HelpAndVersion) {
  for (const char* flag : {"-h", "--help"}) {
    const Result help = Call({"--json", flag, "1"});
    EXPECT_EQ(help.code, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind("Usage: pitch-autopilot-cli", 0), 0u);
    for (const char* option :
         {"--separator ,|.", "--json", "--metrics", "--csv FILE", "--exact", "--results FILE",
          "--plot FILE", "--bode FILE", "--size WxH", "--version"}) {
      EXPECT_NE(help.out.find("\n  " + std::string(option) + " "), std::string::npos) << option;
    }
  }
  const Result version = Call({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out, "pitch-autopilot-cli " PITCH_VERSION "\n");
}

// What is not an option is a coefficient: numbers that start with a minus sign, and after "--"
// anything at all. The options may come after the coefficients.
TEST_F(CliRun, ArgumentsThatLookLikeOptions) {
  struct Row {
    std::vector<std::string> args;
    Json coefficients;  // as read; null: an input error
    std::string input_error = "";
  };
  const Row rows[] = {
      {{"--separator", ",", "0,88", "0,404", "-7,028", "0,987", "0,251"},
       {0.88, 0.404, -7.028, 0.987, 0.251}},
      {{"-0.5", "-.5", "-1e1", "-5", "-0"}, {-0.5, -0.5, -10, -5, -0.0}},
      {{"--separator", ",", "-,5", "1", "1", "1", "1"}, {-0.5, 1, 1, 1, 1}},
      {{"--", "0.88", "0.404", "7.028", "0.987", "0.251"}, {0.88, 0.404, 7.028, 0.987, 0.251}},
      // "-x" is an unknown option (see UsageErrors); after "--" it is a coefficient's text.
      {{"--", "-x", "1", "1", "1", "1"}, nullptr, "'-x' is not a valid floating point value."},
      {{"--", "--json", "-h", "1", "1", "1"},
       nullptr,
       "'--json' is not a valid floating point value."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args[0] + " " + row.args[1]);
    std::vector<std::string> args = row.args;
    args.insert(args.begin(), "--json");
    const Json j = Json::parse(Call(args).out);
    if (row.coefficients.is_null()) {
      EXPECT_EQ(j["error"]["message"], row.input_error);
      EXPECT_EQ(j["error"]["stage"], "input");
    } else {
      EXPECT_EQ(j["coefficients"], row.coefficients);
      EXPECT_TRUE(j["error"].is_null() || j["error"]["stage"] != "input") << j["error"];
    }
  }
  // The sign of a negative zero is kept.
  const Result zero = Call({"--json", "-0", "-.5", "-1e1", "-5", "-0"});
  EXPECT_NE(zero.out.find(R"("coefficients":[-0,-0.5,-10,-5,-0])"), std::string::npos);
  // Options after the coefficients.
  const Result after = Call({"0,88", "0,404", "-7,028", "0,987", "0,251", "--separator", ","});
  EXPECT_EQ(after.out.substr(0, after.out.find('\n')), "muv = 0,13298268384259");
}

// A file option given twice would leave its first file unwritten without a word (issue 19):
// it is a usage error, and neither file is written. Other value options keep the last value.
TEST_F(CliRun, AFileOptionGivenTwiceIsAUsageError) {
  const auto r = Call({"--csv", Path("first.csv"), "--csv", Path("second.csv")});
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("--csv is given twice"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Path("first.csv")));
  EXPECT_FALSE(fs::exists(Path("second.csv")));
  EXPECT_EQ(Call({"--separator", ",", "--separator", ".", "--json"}).code, 0);
}

// The standard output is a file like any other: one that a file option also names is refused
// (a regular file), and a pipe or terminal is never compared.
TEST_F(CliRun, TheStandardOutputAsANamedFileIsAUsageError) {
  const std::string results = Path("r.txt");
  std::ofstream(results) << "old";
  const int into_results = ::open(results.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(into_results, 0);
  int pipe_ends[2];
  ASSERT_EQ(::pipe2(pipe_ends, O_CLOEXEC), 0);
  const auto run = [&](std::vector<std::string> args, int descriptor) {
    StudyContext study;
    study.out_descriptor = descriptor;
    std::ostringstream out;
    std::ostringstream err;
    const int code = cli::Run(args, kSettings, out, err, {}, {}, study);
    return std::pair{code, err.str()};
  };
  const auto [code, err] = run({"--from", results}, into_results);
  EXPECT_EQ(code, 2);
  EXPECT_NE(err.find("--from " + results + " and the standard output name the same file"),
            std::string::npos)
      << err;
  EXPECT_EQ(run({"--results", results}, into_results).first, 2);
  EXPECT_EQ(run({"--results", results}, pipe_ends[1]).first, 0);
  ::close(into_results);
  ::close(pipe_ends[0]);
  ::close(pipe_ends[1]);
}

// The last resort of main: whatever escapes the run becomes a message and the exit code 1.
TEST(Guarded, AnEscapingExceptionIsAMessageAndExitCodeOne) {
  struct Row {
    const char* name;
    std::function<int()> body;
    std::string message;
  };
  const Row rows[] = {
      {"returns", [] { return 2; }, ""},
      {"bad_alloc", []() -> int { throw std::bad_alloc(); },
       "pitch-autopilot-cli: out of memory\n"},
      {"runtime_error", []() -> int { throw std::runtime_error("boom"); },
       "pitch-autopilot-cli: boom\n"},
      {"anything", []() -> int { throw 42; }, "pitch-autopilot-cli: unexpected error\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::ostringstream err;
    EXPECT_EQ(Guarded(row.body, err), row.message.empty() ? 2 : 1);
    EXPECT_EQ(err.str(), row.message);
  }
}

}  // namespace
}  // namespace pitch::cli
