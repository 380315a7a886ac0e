// The loop margins of a study's rows (--margins): the headline values of analysis::Margins bit
// for bit, in both formats, before the carried columns, empty where the synthesis failed, and
// absent unless asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <ostream>

#include "analysis/margins.h"
#include "core/controller.h"
#include "number_text/number_text.h"
#include "study_test_support.h"

namespace pitch::study {
namespace {

using testing::Batch;
using testing::JsonLines;
using testing::Lines;
using testing::ReadFile;
using testing::Study;
using testing::TempFolder;
using Json = nlohmann::json;

// The headline values in the CSV columns' order; empty where the study leaves the cell empty.
constexpr const char* kNames[] = {
    "gain_margin",    "gain_margin_db", "phase_crossover",  "phase_margin_deg",
    "gain_crossover", "delay_margin",   "stability_margin", "stability_margin_frequency"};
using Values = std::array<std::optional<double>, 8>;

std::optional<double> Finite(double v) {
  return std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

// The sets of the study. Row 1's c2 is below c4·c5: its synthesis fails.
constexpr std::array<std::array<const char*, 5>, 4> kSets = {{
    {"0.880", "0.404", "7.028", "0.987", "0.251"},  // the defaults: infinite gain margin
    {"0.880", "0.1", "7.028", "0.987", "0.251"},
    {"0.880", "0.404", "-6", "0.987", "0.251"},  // a finite gain margin
    {"4", "0.404", "3", "0.987", "0.251"},       // least |1 + L| as ω → ∞: no finite frequency
}};

// A set's margins, from a controller of its own.
Values ExpectedMargins(const std::array<const char*, 5>& texts, bool& gain_infinite) {
  TController c;
  Real* const fields[5] = {&c.c1, &c.c2, &c.c3, &c.c4, &c.c5};
  for (std::size_t k = 0; k < 5; ++k) {
    *fields[k] = fp::Store(ParseNumber(texts[k], '.'));
  }
  c.ComputeGearRatios();
  const analysis::LoopMargins m = analysis::Margins(c);
  Values v;
  gain_infinite = m.gain.empty();
  if (!m.gain.empty()) {
    v[0] = Finite(m.gain[0].factor);
    v[1] = Finite(m.gain[0].decibels);
    v[2] = Finite(m.gain[0].frequency);
  }
  if (!m.phase.empty()) {
    v[3] = Finite(m.phase[0].degrees);
    v[4] = Finite(m.phase[0].frequency);
  }
  if (m.delay) {
    v[5] = Finite(*m.delay);
  }
  v[6] = Finite(m.stability.value);
  v[7] = Finite(m.stability.frequency);
  return v;
}

std::string Hex(const std::optional<double>& v) {
  if (!v) {
    return "(none)";
  }
  char text[40];
  std::snprintf(text, sizeof text, "%a", *v == 0 ? 0.0 : *v);  // JSON's -0 reads as 0
  return text;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (const char ch : line) {
    if (ch == ',') {
      fields.emplace_back();
    } else {
      fields.back() += ch;
    }
  }
  return fields;
}

// The margins of each row (none: the row has no margins at all), read back from the output.
struct Read {
  std::vector<std::optional<Values>> rows;
  std::vector<bool> gain_infinite;
};

Read FromCsv(const std::string& text) {
  const std::vector<std::string> lines = Lines(text);
  Read read;
  const std::vector<std::string> header = Fields(lines.at(0));
  const auto at = std::find(header.begin(), header.end(), "gain_margin");
  if (at == header.end()) {
    EXPECT_EQ(header.back(), "note");
    read.rows.assign(lines.size() - 1, std::nullopt);
    return read;
  }
  const auto first = static_cast<std::size_t>(at - header.begin());
  EXPECT_EQ(header.at(first - 1), "euler_stable");
  for (std::size_t k = 0; k < 8; ++k) {
    EXPECT_EQ(header.at(first + k), kNames[k]);
  }
  EXPECT_EQ(header.at(first + 8), "margins_reason");
  EXPECT_EQ(header.at(first + 9), "note");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> fields = Fields(lines[i]);
    EXPECT_EQ(fields.size(), header.size()) << lines[i];
    Values v;
    bool any = false;
    for (std::size_t k = 0; k < 8; ++k) {
      const std::string& cell = fields.at(first + k);
      if (!cell.empty()) {
        v[k] = std::strtod(cell.c_str(), nullptr);
        any = true;
      }
    }
    read.rows.push_back(any ? std::optional<Values>(v) : std::nullopt);
    read.gain_infinite.push_back(any && !v[0]);
  }
  return read;
}

Read FromJson(const std::string& text) {
  Read read;
  for (const Json& row : JsonLines(text)) {
    if (!row.contains("margins") || row["margins"].is_null()) {
      read.rows.push_back(std::nullopt);
      read.gain_infinite.push_back(false);
      continue;
    }
    const Json& m = row["margins"];
    const auto num = [](const Json& j) {
      return j.is_null() ? std::nullopt : std::optional<double>(j.get<double>());
    };
    Values v;
    v[0] = num(m["gain_margin"]["factor"]);
    v[1] = num(m["gain_margin"]["db"]);
    v[2] = num(m["gain_margin"]["frequency"]);
    if (!m["phase_margin"].is_null()) {
      v[3] = num(m["phase_margin"]["degrees"]);
      v[4] = num(m["phase_margin"]["frequency"]);
    }
    v[5] = num(m["delay_margin"]);
    v[6] = num(m["stability_margin"]["value"]);
    v[7] = num(m["stability_margin"]["frequency"]);
    read.rows.push_back(v);
    read.gain_infinite.push_back(m["gain_margin"]["infinite"].get<bool>());
  }
  return read;
}

struct MarginsCase {
  const char* name;
  bool margins;
  const char* out;  // empty: CSV on the output stream
};

void PrintTo(const MarginsCase& c, std::ostream* os) { *os << c.name; }

class StudyMargins : public ::testing::TestWithParam<MarginsCase> {};

TEST_P(StudyMargins, AreTheHeadlineMarginsOfTheLoop) {
  const MarginsCase& p = GetParam();
  TempFolder folder;
  StudyOptions o = Batch();
  o.margins = p.margins;
  if (*p.out != '\0') {
    o.out = folder / p.out;
  }
  std::string input = "c1,c2,c3,c4,c5,note\n";
  for (const auto& set : kSets) {
    for (const char* text : set) {
      input += std::string(text) + ",";
    }
    input += "x\n";
  }
  const auto result = Study(o, input);
  ASSERT_EQ(result.code, 0) << result.err;
  const std::string text = o.out ? ReadFile(*o.out) : result.out;
  const Read read = o.out ? FromJson(text) : FromCsv(text);
  ASSERT_EQ(read.rows.size(), kSets.size()) << text;
  EXPECT_FALSE(read.rows[1]) << "failed synthesis";
  if (!p.margins) {
    EXPECT_FALSE(read.rows[0]);
    EXPECT_EQ(text.find("margin"), std::string::npos);
    return;
  }
  for (const std::size_t row : {0u, 2u, 3u}) {
    bool gain_infinite = false;
    const Values expected = ExpectedMargins(kSets[row], gain_infinite);
    ASSERT_TRUE(read.rows[row]) << "row " << row;
    EXPECT_EQ(read.gain_infinite[row], gain_infinite) << "row " << row;
    for (std::size_t k = 0; k < 8; ++k) {
      EXPECT_EQ(Hex((*read.rows[row])[k]), Hex(expected[k])) << "row " << row << " " << kNames[k];
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, StudyMargins,
                         ::testing::Values(MarginsCase{"Csv", true, ""},
                                           MarginsCase{"JsonLines", true, "rows.jsonl"},
                                           MarginsCase{"CsvWithout", false, ""},
                                           MarginsCase{"JsonLinesWithout", false, "rows.jsonl"}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace pitch::study
