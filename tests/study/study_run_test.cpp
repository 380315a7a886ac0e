// A study's rows: equal to the single calculation bit for bit, in input order whatever the
// threads, the same split into shards, both kinds of study, the sweep's grid and the map's cells.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <random>

#include "analysis/analysis.h"
#include "analysis/euler_stability.h"
#include "core/controller.h"
#include "number_text/number_text.h"
#include "study/csv_reader.h"
#include "study_test_support.h"

namespace pitch::study {
namespace {

using testing::Batch;
using testing::JsonLines;
using testing::Lines;
using testing::ReadFile;
using testing::Study;
using testing::Sweep;
using testing::TempFolder;
using Json = nlohmann::json;

std::string Hex(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%a", v);
  return text;
}

// A JSON number against a double, bit for bit (a zero only by value: JSON's -0 reads as 0).
void ExpectNumber(const Json& j, double expected, const std::string& what) {
  ASSERT_TRUE(j.is_number()) << what << ": " << j.dump();
  if (expected == 0) {
    EXPECT_EQ(j.get<double>(), 0.0) << what;
  } else {
    EXPECT_EQ(Hex(j.get<double>()), Hex(expected)) << what;
  }
}

void ExpectNumber(const Json& j, const std::optional<double>& expected, const std::string& what) {
  if (!expected) {
    EXPECT_TRUE(j.is_null()) << what << ": " << j.dump();
  } else {
    ExpectNumber(j, *expected, what);
  }
}

// The single calculation of one set, done directly on a controller, and its analysis.
void ExpectRowEqualsController(const Json& row, const std::array<std::string, 5>& texts) {
  const std::string what = "row " + row["row"].dump();
  TController c;
  Real* const fields[5] = {&c.c1, &c.c2, &c.c3, &c.c4, &c.c5};
  for (std::size_t k = 0; k < 5; ++k) {
    *fields[k] = fp::Store(ParseNumber(texts[k], '.'));
    ExpectNumber(row["coefficients"][k], *fields[k], what + " c" + std::to_string(k + 1));
  }
  std::string stage = "ratios";
  std::optional<std::string> error;
  bool ratios = false;
  bool simulated = false;
  try {
    c.ComputeGearRatios();
    ratios = true;
    stage = "response";
    c.SimulateResponse();
    simulated = true;
  } catch (const Exception& e) {
    error = WithFullStop(e.what());
    EXPECT_EQ(row["error"]["kind"], e.ClassName()) << what;
    EXPECT_EQ(row["error"]["stage"], stage) << what;
    EXPECT_EQ(row["error"]["message"], *error) << what;
  }
  if (!error) {
    EXPECT_TRUE(row["error"].is_null()) << what;
  }
  ASSERT_EQ(row["ratios"].is_null(), !ratios) << what;
  if (!ratios) {
    EXPECT_TRUE(row["stable"].is_null());
    return;
  }
  ExpectNumber(row["ratios"]["muv"], c.muv, what + " muv");
  ExpectNumber(row["ratios"]["iv"], c.iv, what + " iv");
  ExpectNumber(row["ratios"]["nuv"], c.nuv, what + " nuv");
  ExpectNumber(row["ratios"]["Tnu"], c.Tnu, what + " Tnu");
  EXPECT_EQ(row["stable"], analysis::IsStable(c)) << what;
  const analysis::EulerStability euler = analysis::EulerStabilityOf(c, kTimeStep);
  ExpectNumber(row["euler"]["spectral_radius"], euler.spectral_radius, what + " radius");
  EXPECT_EQ(row["euler"]["stable"], euler.stable) << what;
  ASSERT_EQ(row["metrics"].is_null(), !simulated) << what;
  ASSERT_EQ(row["response"].is_null(), !simulated) << what;
  if (!simulated) {
    return;
  }
  ASSERT_EQ(row["response"].size(), static_cast<std::size_t>(kSampleCount));
  for (int i = 1; i <= kSampleCount; ++i) {
    ExpectNumber(row["response"][static_cast<std::size_t>(i - 1)], c.teta[i],
                 what + " sample " + std::to_string(i));
  }
  const std::vector<double> t = SampleTimes();
  const analysis::StepCharacteristics m = analysis::Characteristics(t, c.teta.values());
  const Json& metrics = row["metrics"];
  ExpectNumber(metrics["peak"], m.peak, what + " peak");
  ExpectNumber(metrics["peak_time"], m.peak_time, what + " peak time");
  ExpectNumber(metrics["overshoot_percent"], m.overshoot_percent, what + " overshoot");
  ExpectNumber(metrics["rise_time"], m.rise_time, what + " rise");
  ExpectNumber(metrics["settling_time"], m.settling_time, what + " settling");
  ExpectNumber(metrics["final_deviation"], m.final_deviation, what + " final");
}

// Seeded random sets around the defaults, written in several ways, with some that fail in the
// synthesis (c2 below c4·c5) and some whose simulation overflows (large c1).
std::vector<std::array<std::string, 5>> RandomSets(int count) {
  std::mt19937_64 random(12);
  std::uniform_real_distribution<double> scale(0.3, 2.5);
  std::vector<std::array<std::string, 5>> sets;
  const char* const formats[] = {"%.17g", "%.3f", "%.6e", "%+.10g"};
  for (int n = 0; n < count; ++n) {
    std::array<std::string, 5> texts;
    for (std::size_t k = 0; k < 5; ++k) {
      char text[64];
      std::snprintf(text, sizeof text, formats[(n + static_cast<int>(k)) % 4],
                    kDefaultCoefficients[k] * scale(random));
      texts[k] = text;
    }
    if (n % 17 == 5) {
      texts[0] = "400";
    }
    sets.push_back(texts);
  }
  return sets;
}

std::string BatchText(const std::vector<std::array<std::string, 5>>& sets) {
  std::string csv = "c1,c2,c3,c4,c5\n";
  for (const auto& s : sets) {
    csv += s[0] + "," + s[1] + "," + s[2] + "," + s[3] + "," + s[4] + "\n";
  }
  return csv;
}

TEST(StudyBatch, EachRowEqualsTheSingleCalculationBitForBit) {
  TempFolder folder;
  auto sets = RandomSets(240);
  // Poles near 1e-150 and 1e150: stable loops, which the closed-loop matrix of doubles took for
  // marginal and unstable (c3·nuv under- and overflowing in it).
  sets.push_back({"1.2318778779988625e-150", "5.115111450396023e-300", "-1.56806931182502e-151",
                  "4.4431849333672393e-150", "8.198747762598484e-151"});
  sets.push_back({"4.630392010348025e+150", "4.59358353934957e+300", "-1.321765078188936e+150",
                  "2.5010212186045925e+150", "1.704149656775364e+150"});
  StudyOptions o;
  o.batch = "-";
  o.out = folder / "rows.jsonl";
  o.samples = true;
  o.jobs = 3;
  const auto result = Study(o, BatchText(sets));
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(result.out, "");
  const std::vector<Json> rows = JsonLines(ReadFile(*o.out));
  ASSERT_EQ(rows.size(), sets.size());
  int failed = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    ASSERT_EQ(rows[i]["row"], i);
    ExpectRowEqualsController(rows[i], sets[i]);
    failed += rows[i]["error"].is_null() ? 0 : 1;
  }
  EXPECT_GT(failed, 10);  // the sets reach the failures, not only the completed path
  EXPECT_EQ(rows[rows.size() - 2]["stable"], true);
  EXPECT_EQ(rows[rows.size() - 1]["stable"], true);
}

// The same rows, in the same order and to the same byte, whatever the number of threads.
TEST(StudyOrder, OutputDoesNotDependOnTheJobs) {
  StudyOptions o;
  o.sweeps = {"c2=0.1:0.9:40", "c3=-9:9:60"};
  o.jobs = 1;
  const auto one = Study(o);
  ASSERT_EQ(one.code, 0);
  o.jobs = 4;
  const auto four = Study(o);
  EXPECT_EQ(one.out, four.out);
  EXPECT_EQ(Lines(one.out).size(), 1u + 40 * 60);

  StudyOptions b;
  b.batch = "-";
  b.jobs = 1;
  const std::string input = BatchText(RandomSets(700));
  const auto batch_one = Study(b, input);
  b.jobs = 3;
  EXPECT_EQ(Study(b, input).out, batch_one.out);
}

struct ShardRow {
  const char* name;
  bool sweep;
  int n;
};

void PrintTo(const ShardRow& row, std::ostream* os) { *os << row.name; }

class StudyShards : public ::testing::TestWithParam<ShardRow> {};

// Every shard writes the header and holds exactly the rows r with r mod N = K − 1, in increasing
// order, each as the unsharded run has it; so the union of the shards' rows is the whole.
TEST_P(StudyShards, HoldTheirOwnRowsAndMakeTheWhole) {
  StudyOptions o;
  std::string input;
  if (GetParam().sweep) {
    o.sweeps = {"c1=0.5:1.5:23", "c2=0.1:0.6:7"};
  } else {
    o.batch = "-";
    input = "id,c1,c2,c3,c4,c5\n";
    const auto sets = RandomSets(151);
    for (std::size_t i = 0; i < sets.size(); ++i) {
      input += "s" + std::to_string(i) + "," + sets[i][0] + "," + sets[i][1] + "," + sets[i][2] +
               "," + sets[i][3] + "," + sets[i][4] + "\n";
      if (i % 50 == 7) {
        input += "bad,1,2\n";
      }
    }
  }
  const auto whole = Study(o, input);
  ASSERT_EQ(whole.code, 0);
  const std::vector<std::string> whole_lines = Lines(whole.out);
  const auto total = static_cast<std::int64_t>(whole_lines.size()) - 1;
  ASSERT_GT(total, 0);
  std::vector<std::string> merged;
  const int n = GetParam().n;
  for (int k = 1; k <= n; ++k) {
    o.shard = std::to_string(k) + "/" + std::to_string(n);
    const auto part = Study(o, input);
    ASSERT_EQ(part.code, 0) << part.err;
    const std::vector<std::string> lines = Lines(part.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), whole_lines.front());
    std::vector<std::int64_t> expected;
    for (std::int64_t r = k - 1; r < total; r += n) {
      expected.push_back(r);
    }
    std::vector<std::int64_t> indices;
    for (std::size_t i = 1; i < lines.size(); ++i) {
      indices.push_back(std::stoll(lines[i]));
      EXPECT_EQ(lines[i], whole_lines[static_cast<std::size_t>(indices.back()) + 1]);
    }
    EXPECT_EQ(indices, expected) << o.shard.value();
    merged.insert(merged.end(), lines.begin() + 1, lines.end());
  }
  std::sort(merged.begin(), merged.end(), [](const std::string& a, const std::string& b) {
    return std::stoll(a) < std::stoll(b);
  });
  EXPECT_EQ(merged, std::vector<std::string>(whole_lines.begin() + 1, whole_lines.end()));
}

INSTANTIATE_TEST_SUITE_P(Shards, StudyShards,
                         ::testing::Values(ShardRow{"SweepInTwo", true, 2},
                                           ShardRow{"SweepInSeven", true, 7},
                                           ShardRow{"BatchInThree", false, 3},
                                           ShardRow{"MoreShardsThanRows", true, 200}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(StudyBatch, CarriesColumnsThroughAndReadsQuotedNumbers) {
  TempFolder folder;
  StudyOptions o;
  o.batch = "-";
  const std::string input =
      "regime, C3 ,id,c1,c2,c4,c5,comment\n"
      "\"take-off, flaps 20\",7.028,\"A\"\"1\",\" 0.88\",0.404,0.987,0.251,\"Тангаж\xff\"\n";
  const auto csv = Study(o, input);
  ASSERT_EQ(csv.code, 0);
  const std::vector<std::string> lines = Lines(csv.out);
  ASSERT_EQ(lines.size(), 2u);
  // The margins' columns (on by default) come before the carried ones.
  EXPECT_EQ(lines[0].substr(lines[0].rfind("stability_margin_frequency")),
            "stability_margin_frequency,margins_reason,regime,comment");
  EXPECT_EQ(lines[1].rfind("0,\"A\"\"1\",0.88,0.404,7.028,0.987,0.251,0.09200374246524264,", 0), 0u)
      << lines[1];
  const std::string tail = ",\"take-off, flaps 20\",Тангаж\xff";
  EXPECT_EQ(lines[1].substr(lines[1].size() - tail.size()), tail);
  o.out = folder / "rows.jsonl";
  ASSERT_EQ(Study(o, input).code, 0);
  const std::vector<Json> rows = JsonLines(ReadFile(*o.out));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["id"], "A\"1");
  EXPECT_EQ(rows[0]["columns"]["regime"], "take-off, flaps 20");
  EXPECT_EQ(rows[0]["columns"]["comment"], "Тангаж\xEF\xBF\xBD");  // the invalid byte replaced
  EXPECT_FALSE(rows[0].contains("response"));
}

// A synthesis that fails after forming muv keeps it in the row, as the single calculation does;
// the ratios it did not form are empty.
TEST(StudyBatch, AFailedSynthesisKeepsTheRatiosItFormed) {
  const auto result = Study(Batch(),
                            "c1,c2,c3,c4,c5\n"
                            "0.5,0,-1,1,0\n"
                            "0.88,0.2,7.028,0.987,0.251\n");
  ASSERT_EQ(result.code, 0);
  const std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].rfind("0,,0.5,0,-1,1,0,0.5,,,,EZeroDivide,ratios,", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2].rfind("1,,0.88,0.2,7.028,0.987,0.251,,,,,EInvalidOp,ratios,", 0), 0u)
      << lines[2];
}

// A spreadsheet set to a decimal comma writes semicolons or tabs between the fields; the rows are
// those of the same sets written with commas and full stops. --separator overrides the comma.
TEST(StudyBatch, ReadsSpreadsheetTextWithDecimalCommas) {
  const auto sets = RandomSets(40);
  const std::string plain = BatchText(sets);
  const auto expected = Study(Batch(), plain);
  ASSERT_EQ(expected.code, 0);
  const auto spreadsheet = [&](char delimiter, char separator) {
    std::string text;
    for (const char c : plain) {
      text += c == ',' ? delimiter : c == '.' ? separator : c;
    }
    return text;
  };
  for (const char delimiter : {';', '\t'}) {
    const auto result = Study(Batch(), spreadsheet(delimiter, ','));
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(result.out, expected.out);
    StudyOptions o = Batch();
    o.separator = '.';
    o.separator_given = true;
    EXPECT_EQ(Study(o, spreadsheet(delimiter, '.')).out, expected.out);
  }
  // The locale's separator does not decide: only --separator does.
  StudyOptions o = Batch();
  o.separator = '.';
  EXPECT_EQ(Study(o, spreadsheet(';', ',')).out, expected.out);
  // With commas between the fields, numbers have full stops whatever --separator says.
  o.separator_given = true;
  o.separator = ',';
  EXPECT_EQ(Study(o, plain).out, expected.out);
}

// --csv-style semicolon: the same rows with semicolons between the fields and decimal commas in
// the numbers; text fields (id, messages, carried columns) as they are, quoted where they hold a
// semicolon.
TEST(StudyCsvStyle, SemicolonsAndDecimalCommasForSpreadsheets) {
  std::string input = "id,c1,c2,c3,c4,c5,note\n";
  const auto sets = RandomSets(30);
  for (std::size_t i = 0; i < sets.size(); ++i) {
    input += "\"s;" + std::to_string(i) + "\"," + sets[i][0] + "," + sets[i][1] + "," + sets[i][2] +
             "," + sets[i][3] + "," + sets[i][4] + ",\"x, y.z\"\n";
  }
  input += "d,0.88,0.404,7.028,0.987,0.251,\n";
  input += "bad,1,2\n";
  for (const bool margins : {false, true}) {
    StudyOptions o = Batch();
    o.margins = margins;
    const auto plain = Study(o, input);
    o.csv_style = "semicolon";
    const auto sheet = Study(o, input);
    ASSERT_EQ(sheet.code, 0) << sheet.err;
    std::istringstream plain_text(plain.out);
    std::istringstream sheet_text(sheet.out);
    CsvReader plain_reader(plain_text, ',');
    CsvReader sheet_reader(sheet_text, ';');
    CsvRecord header;
    ASSERT_TRUE(plain_reader.Next(header));
    CsvRecord sheet_header;
    ASSERT_TRUE(sheet_reader.Next(sheet_header));
    EXPECT_EQ(sheet_header.Fields(), header.Fields());
    const std::vector<std::string> names = header.Fields();
    int rows = 0;
    for (CsvRecord p, q; plain_reader.Next(p);) {
      ASSERT_TRUE(sheet_reader.Next(q));
      ASSERT_EQ(q.size(), names.size()) << q.text;
      for (std::size_t k = 0; k < names.size(); ++k) {
        std::string expected(p.Field(k));
        if (names[k] != "id" && names[k] != "note" && names[k] != "error_message") {
          std::replace(expected.begin(), expected.end(), '.', ',');
        }
        EXPECT_EQ(q.Field(k), expected) << names[k] << " of row " << rows;
      }
      ++rows;
    }
    EXPECT_EQ(rows, 32);
    EXPECT_NE(sheet.out.find(";0,09200374246524264;"), std::string::npos);
  }
  // JSON Lines has no CSV style.
  StudyOptions o = Batch();
  o.csv_style = "semicolon";
  o.out = "rows.jsonl";
  EXPECT_EQ(Study(o, input).code, 2);
}

TEST(StudySweep, RowsRunThroughTheGridInOrder) {
  StudyOptions o = Sweep({"c3=-1:1:3", "c5=0,1:0,2:2"});
  o.coefficients = {"0,9", "0,5", "7", "0,98", "0,25"};
  o.separator = ',';
  const auto result = Study(o);
  ASSERT_EQ(result.code, 0);
  const std::vector<std::string> lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 7u);
  const char* const expected[] = {"0,,0.9,0.5,-1,0.98,0.1,", "1,,0.9,0.5,-1,0.98,0.2,",
                                  "2,,0.9,0.5,0,0.98,0.1,",  "3,,0.9,0.5,0,0.98,0.2,",
                                  "4,,0.9,0.5,1,0.98,0.1,",  "5,,0.9,0.5,1,0.98,0.2,"};
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(lines[i + 1].rfind(expected[i], 0), 0u) << lines[i + 1];
  }
  // c3 = 0: B divides by zero.
  EXPECT_NE(lines[3].find("EZeroDivide,ratios,Floating point division by zero."),
            std::string::npos);
  EXPECT_NE(result.err.find("failed syntheses: 2\n  2  Floating point division by zero.\n"),
            std::string::npos)
      << result.err;
}

// One autopilot for every set: its ratios in every row, each set simulated with them.
TEST(StudyAutopilot, OneAutopilotForEverySet) {
  TempFolder folder;
  StudyOptions o = Sweep({"c1=0.5:3:6"});
  o.autopilot_from = {"0.88", "0.404", "7.028", "0.987", "0.251"};
  o.out = folder / "rows.jsonl";
  o.samples = true;
  ASSERT_EQ(Study(o).code, 0);
  TController tuned;
  tuned.c1 = 0.88;
  tuned.c2 = 0.404;
  tuned.c3 = 7.028;
  tuned.c4 = 0.987;
  tuned.c5 = 0.251;
  tuned.ComputeGearRatios();
  const std::vector<Json> rows = JsonLines(ReadFile(*o.out));
  ASSERT_EQ(rows.size(), 6u);
  for (const Json& row : rows) {
    ExpectNumber(row["ratios"]["muv"], tuned.muv, "muv");
    ExpectNumber(row["ratios"]["iv"], tuned.iv, "iv");
    ExpectNumber(row["ratios"]["nuv"], tuned.nuv, "nuv");
    ExpectNumber(row["ratios"]["Tnu"], tuned.Tnu, "Tnu");
    TController c = tuned;
    c.c1 = row["coefficients"][0].get<double>();
    c.SimulateResponse();
    ExpectNumber(row["response"][999], c.teta[1000], "last sample");
    ExpectNumber(row["response"][100], c.teta[101], "sample 101");
  }

  // Ratios given directly; without integral action there is no Tnu, and the set still runs.
  o.autopilot_from.clear();
  o.autopilot = {"0.1", "0.25", "0"};
  ASSERT_EQ(Study(o).code, 0);
  const std::vector<Json> given = JsonLines(ReadFile(*o.out));
  ASSERT_EQ(given.size(), 6u);
  EXPECT_EQ(given[0]["ratios"], Json::parse(R"({"muv":0.1,"iv":0.25,"nuv":0,"Tnu":null})"));
  EXPECT_TRUE(given[0]["error"].is_null());
  EXPECT_EQ(given[0]["response"].size(), 1000u);
}

TEST(StudyMap, CellsCarryValuesAndMarksInSweepOrder) {
  TempFolder folder;
  StudyOptions o = Sweep({"c2=0.1:0.5:5", "c1=400:0.88:2"});
  o.map = folder / "map.png";
  o.map_value = "overshoot";
  std::optional<MapRequest> seen;
  const auto result = Study(o, "", [&](const MapRequest& request) {
    seen = request;
    return std::string("PNG bytes");
  });
  ASSERT_EQ(result.code, 0) << result.err;
  EXPECT_EQ(ReadFile(*o.map), "PNG bytes");
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->x_name, "c2");
  EXPECT_EQ(seen->y_name, "c1");
  EXPECT_EQ(seen->x_values, (std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5}));
  EXPECT_EQ(seen->y_values, (std::vector<double>{400, 0.88}));
  EXPECT_FALSE(seen->svg);
  ASSERT_EQ(seen->values.size(), 10u);
  // c2 = 0.1 and 0.2 are below c4·c5: the synthesis fails; c1 = 400 diverges.
  for (std::size_t ix = 0; ix < 5; ++ix) {
    const bool failed = ix < 2;
    EXPECT_EQ(seen->marks[ix * 2], failed ? kMarkFailed : kMarkDiverging) << ix;
    EXPECT_EQ(seen->marks[ix * 2 + 1], failed ? kMarkFailed : 0) << ix;
    EXPECT_TRUE(std::isnan(seen->values[ix * 2])) << ix;  // the simulation overflowed
    EXPECT_EQ(std::isnan(seen->values[ix * 2 + 1]), failed) << ix;
  }
  EXPECT_GT(seen->values[9], 0);  // c1 = 0.88, c2 = 0.5 overshoots

  // A renderer that fails: code 1, the map's path in the message.
  const auto failing = Study(
      o, "", [](const MapRequest&) -> std::string { throw EInOutError(0, "drawing failed"); });
  EXPECT_EQ(failing.code, 1);
  EXPECT_NE(failing.err.find("the map " + *o.map + ": drawing failed."), std::string::npos);
}

}  // namespace
}  // namespace pitch::study
