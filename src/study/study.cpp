#include "study/study.h"

#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/parallel_pipeline.h>
#include <oneapi/tbb/task_arena.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <exception>
#include <fstream>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "core/errors.h"
#include "number_text/escaped_text.h"
#include "number_text/number_text.h"
#include "number_text/separator_hint.h"
#include "storage/file_record.h"
#include "study/batch_input.h"
#include "study/chunk.h"
#include "study/interrupt.h"
#include "study/output.h"
#include "study/plan.h"
#include "study/progress.h"
#include "study/row_format.h"
#include "study/sources.h"
#include "study/threads.h"

namespace pitch::study {

void Tally::Add(const Tally& other) {
  rows += other.rows;
  completed += other.completed;
  input_errors += other.input_errors;
  diverging += other.diverging;
  for (const auto& [message, n] : other.failed_syntheses) {
    failed_syntheses[message] += n;
  }
  for (const auto& [message, n] : other.failed_simulations) {
    failed_simulations[message] += n;
  }
}

namespace {

constexpr const char* kProgram = "pitch-autopilot-cli: ";

// Rows per chunk: enough to keep the pipeline's overhead small, few enough that the chunks in
// flight stay small (a row with its samples is about 20 kB of text).
std::size_t ChunkRows(const Plan& plan) { return plan.samples ? 16 : 256; }

// Chunks in flight, reused: at most the pipeline's token count of them ever exist.
class ChunkPool {
 public:
  Chunk* Take() {
    std::lock_guard lock(mutex_);
    if (free_.empty()) {
      all_.push_back(std::make_unique<Chunk>());
      return all_.back().get();
    }
    Chunk* chunk = free_.back();
    free_.pop_back();
    return chunk;
  }
  void Give(Chunk* chunk) {
    chunk->Clear();
    std::lock_guard lock(mutex_);
    free_.push_back(chunk);
  }

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<Chunk>> all_;
  std::vector<Chunk*> free_;
};

class StudyRun {
 public:
  StudyRun(const Plan& plan, const BatchColumns* columns) : plan_(plan), columns_(columns) {}

  // The pipeline's middle stage: every row of the chunk, formatted into its text. Rows go
  // kInterleavedResponses at a time: each one's synthesis, then their simulations in one loop,
  // then each one's analysis and text in row order.
  void Compute(Chunk& chunk) const {
    Group group(columns_ ? columns_->carried.size() : 0);
    if (plan_.grid) {
      for (const std::int64_t row : chunk.rows) {
        if (InterruptSignal() != 0) {
          break;
        }
        Lane& lane = group.Next(row);
        lane.simulate =
            StartRow(plan_.grid->Coefficients(row), Fixed(), lane.controller, lane.result);
        if (group.Full()) {
          Finish(chunk, group);
        }
      }
      Finish(chunk, group);
      chunk.cut = chunk.tally.rows < static_cast<std::int64_t>(chunk.rows.size());
      return;
    }
    std::vector<std::string_view> fields;
    for (const BatchRecord& record : chunk.records) {
      if (InterruptSignal() != 0) {
        break;  // the rows started are finished below; the chunk ends with them
      }
      fields.clear();
      for (std::size_t k = 0; k < record.span_count; ++k) {
        const auto [offset, length] = chunk.spans[record.first_span + k];
        fields.emplace_back(chunk.field_text.data() + offset, length);
      }
      Lane& lane = group.Next(record.row);
      if (columns_->id && *columns_->id < fields.size()) {
        lane.carried.id = fields[*columns_->id];
      }
      for (std::size_t k = 0; k < lane.carried_values.size(); ++k) {
        const std::size_t i = columns_->carried[k];
        lane.carried_values[k] = i < fields.size() ? fields[i] : std::string_view();
      }
      lane.carried.values = lane.carried_values;

      RowResult& result = lane.result;
      const auto line = [&] { return "line " + std::to_string(record.line) + ": "; };
      if (!record.error.empty()) {
        result.error = RowError{EParserError("").ClassName(), Stage::kInput,
                                line() + WithFullStop(record.error)};
      } else if (fields.size() != columns_->count) {
        result.error =
            RowError{EParserError("").ClassName(), Stage::kInput,
                     line() + std::to_string(fields.size()) + " fields where the header has " +
                         std::to_string(columns_->count) + "."};
      } else {
        std::array<Real, 5> c{};
        std::size_t k = 0;
        try {
          for (; k < 5; ++k) {
            c[k] = fp::Store(ParseNumber(fields[columns_->coefficient[k]], columns_->separator));
          }
          lane.simulate = StartRow(c, Fixed(), lane.controller, result);
        } catch (const Exception& e) {
          result.error =
              RowError{e.ClassName(), Stage::kInput, line() + FieldMessage(e, k, fields)};
        }
      }
      if (group.Full()) {
        Finish(chunk, group);
      }
    }
    Finish(chunk, group);
    chunk.cut = chunk.tally.rows < static_cast<std::int64_t>(chunk.records.size());
  }

 private:
  // Why field k of a batch row (k < 5), or the row's synthesis (k = 5), failed. A field is shown
  // escaped (a NUL byte would cut the message, a control character would reach the terminal); a
  // number that does not read names its column, and one that is not a number gets the command
  // line's hint on the decimal separator.
  std::string FieldMessage(const Exception& e, std::size_t k,
                           const std::vector<std::string_view>& fields) const {
    if (k >= 5) {
      return WithFullStop(e.what());
    }
    const std::string_view field = fields[columns_->coefficient[k]];
    if (dynamic_cast<const EConvertError*>(&e) == nullptr) {
      return "c" + std::to_string(k + 1) + " '" + EscapedText(field) +
             "': " + WithFullStop(e.what());
    }
    std::string message = "'" + EscapedText(field) + "' is not a valid floating point value.";
    if (columns_->delimiter == ',') {
      // --separator does not apply here: a comma between fields rules out a decimal comma.
      return message + (field.find(',') == std::string_view::npos
                            ? ""
                            : " A batch separated by ',' has numbers with '.'; decimal commas "
                              "need ';' or tabs between the fields.");
    }
    const std::string hint =
        columns_->separator_given
            ? SeparatorHint(field, columns_->separator, true)
            : SeparatorHint(field, columns_->separator,
                            columns_->delimiter == '\t' ? std::string("a batch separated by tabs")
                                                        : std::string("a batch separated by '") +
                                                              columns_->delimiter + "'");
    if (!hint.empty()) {
      message += ' ' + hint;
    }
    return message;
  }

  // One row of a group on its way through the computation.
  struct Lane {
    TController controller;
    RowResult result;
    bool simulate = false;  // the synthesis gave ratios: the response is to be simulated
    Carried carried;
    std::vector<std::string_view> carried_values;
  };

  // Up to kInterleavedResponses rows that are computed together.
  class Group {
   public:
    explicit Group(std::size_t carried_columns) {
      for (Lane& lane : lanes_) {
        lane.carried_values.resize(carried_columns);
      }
    }
    // The next lane, cleared for the row.
    Lane& Next(std::int64_t row) {
      Lane& lane = lanes_[size_++];
      lane.result = RowResult();
      lane.result.row = row;
      lane.simulate = false;
      lane.carried = Carried{};
      return lane;
    }
    bool Full() const { return size_ == lanes_.size(); }
    std::span<Lane> Lanes() { return std::span<Lane>(lanes_).first(size_); }
    void Clear() { size_ = 0; }

   private:
    std::array<Lane, kInterleavedResponses> lanes_;
    std::size_t size_ = 0;
  };

  const FixedAutopilot* Fixed() const { return plan_.fixed ? &*plan_.fixed : nullptr; }

  // The group's simulations in one loop, then each row's analysis and text, in row order.
  void Finish(Chunk& chunk, Group& group) const {
    std::array<TController*, kInterleavedResponses> simulated{};
    std::array<std::exception_ptr, kInterleavedResponses> faults{};
    std::size_t count = 0;
    for (Lane& lane : group.Lanes()) {
      if (lane.simulate) {
        simulated[count++] = &lane.controller;
      }
    }
    SimulateResponses(std::span(simulated).first(count), std::span(faults).first(count));
    std::size_t k = 0;
    for (Lane& lane : group.Lanes()) {
      if (lane.simulate) {
        FinishRow(lane.controller, faults[k++], lane.result, plan_.margins);
      }
      Emit(chunk, lane.result, lane.controller, lane.carried);
    }
    group.Clear();
  }

  void Emit(Chunk& chunk, const RowResult& result, const TController& controller,
            const Carried& carried) const {
    if (plan_.format == Format::kCsv) {
      AppendCsvRow(chunk.text, result, carried, plan_.margins, plan_.csv_style);
    } else {
      const std::span<const double> samples =
          result.have_metrics ? std::span<const double>(controller.teta.values())
                              : std::span<const double>();
      AppendJsonRow(chunk.text, result, carried,
                    columns_ ? std::span<const std::string>(columns_->carried_names)
                             : std::span<const std::string>(),
                    plan_.margins, plan_.samples, samples);
    }
    Tally& t = chunk.tally;
    ++t.rows;
    if (result.error) {
      switch (result.error->stage) {
        case Stage::kInput:
          ++t.input_errors;
          break;
        case Stage::kRatios:
          ++t.failed_syntheses[result.error->message];
          break;
        case Stage::kResponse:
          ++t.failed_simulations[result.error->message];
          break;
      }
    } else {
      ++t.completed;
    }
    if (result.have_stability && !result.euler_stable) {
      ++t.diverging;
    }
    if (plan_.map) {
      unsigned char marks = 0;
      if (result.error && result.error->stage == Stage::kRatios) {
        marks |= kMarkFailed;
      }
      if (result.have_stability && !result.euler_stable) {
        marks |= kMarkDiverging;
      }
      chunk.cells.push_back({result.row, MapValueOf(*plan_.map, result), marks});
    }
  }

  const Plan& plan_;
  const BatchColumns* columns_;
};

void PrintSummary(std::ostream& err, const Tally& t) {
  err << "rows: " << t.rows << '\n' << "completed: " << t.completed << '\n';
  std::int64_t failed = 0;
  for (const auto& entry : t.failed_syntheses) {
    failed += entry.second;
  }
  err << "failed syntheses: " << failed << '\n';
  for (const auto& [message, n] : t.failed_syntheses) {
    err << "  " << n << "  " << message << '\n';
  }
  std::int64_t failed_simulations = 0;
  for (const auto& entry : t.failed_simulations) {
    failed_simulations += entry.second;
  }
  if (failed_simulations > 0) {
    err << "failed simulations: " << failed_simulations << '\n';
    for (const auto& [message, n] : t.failed_simulations) {
      err << "  " << n << "  " << message << '\n';
    }
  }
  if (t.input_errors > 0) {
    err << "input errors: " << t.input_errors << '\n';
  }
  err << "diverging Euler iterations: " << t.diverging << '\n';
}

MapRequest NewMap(const Plan& plan) {
  MapRequest map;
  const SweepAxis& x = plan.grid->axes()[0];
  const SweepAxis& y = plan.grid->axes()[1];
  map.x_name = "c" + std::to_string(x.coefficient + 1);
  map.y_name = "c" + std::to_string(y.coefficient + 1);
  for (std::int64_t i = 0; i < x.count; ++i) {
    map.x_values.push_back(x.Value(i));
  }
  for (std::int64_t i = 0; i < y.count; ++i) {
    map.y_values.push_back(y.Value(i));
  }
  const auto cells = static_cast<std::size_t>(plan.grid->size());
  map.values.assign(cells, std::numeric_limits<double>::quiet_NaN());
  map.marks.assign(cells, 0);
  map.value_name = MapValueTitle(*plan.map);
  map.svg = plan.map_svg;
  return map;
}

}  // namespace

int RunStudy(const StudyOptions& options, std::istream& in, std::ostream& out, std::ostream& err,
             const MapRenderer& renderer) {
  std::optional<InterruptGuard> interrupts;
  if (options.stop_on_signals) {
    interrupts.emplace();
  }
  Plan plan;
  std::unique_ptr<BatchInput> file;
  std::istream* input = &in;
  std::unique_ptr<BatchSource> batch;
  std::unique_ptr<SweepSource> sweep;
  const std::string batch_name =
      options.batch == "-" ? "the standard input" : options.batch.value_or("");
  try {
    plan = MakePlan(options);
    RefuseSharedPaths(options);
    if (plan.map && !renderer) {
      err << kProgram << "maps cannot be drawn by this program\n";
      return 1;
    }
    if (options.batch && *options.batch != "-") {
      file = std::make_unique<BatchInput>(*options.batch);
      input = &file->stream();
    }
    if (plan.grid) {
      sweep = std::make_unique<SweepSource>(*plan.grid, plan.shard);
    } else {
      try {
        batch = std::make_unique<BatchSource>(
            *input, plan.shard,
            options.separator_given ? std::optional<char>(options.separator) : std::nullopt);
      } catch (const EUsageError&) {
        if (file && file->error() != 0) {
          throw EInOutError(InOutErrorCodeOf(file->error()),
                            "cannot read " + batch_name + ": " + std::strerror(file->error()));
        }
        if (input->bad()) {
          throw EInOutError(InOutErrorCodeOf(EIO), "cannot read " + batch_name);
        }
        throw;
      }
    }
  } catch (const EUsageError& e) {
    // As every usage error of the command line: one line, and where to read the usage.
    err << kProgram << EscapedText(e.what())
        << "\nTry 'pitch-autopilot-cli --help' for more information.\n";
    return 2;
  } catch (const EInOutError& e) {
    err << kProgram << EscapedText(e.what()) << '\n';
    return 1;
  }

  const bool to_stream = !options.out || *options.out == "-";
  std::unique_ptr<Sink> sink;
  std::unique_ptr<Sink> map_file;
  const SinkText rows = plan.format == Format::kCsv ? SinkText::kCsvRecords : SinkText::kLines;
  try {
    if (!to_stream) {
      sink = FileSink(*options.out, "--out " + *options.out, rows);
    } else if (options.out_descriptor >= 0) {
      out.flush();
      sink = DescriptorSink(options.out_descriptor, "the standard output", rows);
    } else {
      sink = StreamSink(out, "the standard output");
    }
    // The map's file is taken now, so that a second writer is refused before the work starts;
    // its old content stays until the picture is there.
    if (plan.map) {
      map_file = FileSink(*options.map, "--map " + *options.map, SinkText::kPicture);
    }
  } catch (const Exception& e) {
    if (sink) {
      sink->Abandon();
    }
    err << kProgram << EscapedText(WithFullStop(e.what())) << '\n';
    return 1;
  }

  std::optional<MapRequest> map;
  if (plan.map) {
    map = NewMap(plan);
  }
  // The thread library ends the process when it cannot start a thread: ask only for what can be
  // started.
  const int jobs = StartableThreads(plan.jobs);
  if (jobs < plan.jobs) {
    err << kProgram << "only " << jobs << " of the " << plan.jobs
        << " threads asked for could be started; the study runs on " << jobs << '\n';
  }
  Tally tally;
  ProgressLine progress(err, options.progress,
                        sweep ? std::optional<std::int64_t>(sweep->total()) : std::nullopt);
  try {
    const BatchColumns* columns = batch ? &batch->columns() : nullptr;
    if (plan.format == Format::kCsv) {
      std::string header;
      AppendCsvHeader(header,
                      columns ? std::span<const std::string>(columns->carried_names)
                              : std::span<const std::string>(),
                      plan.margins, plan.csv_style);
      sink->Write(header);
    }
    const StudyRun run(plan, columns);
    ChunkPool pool;
    const std::size_t chunk_rows = ChunkRows(plan);
    bool cut = false;  // a chunk was cut short: the rows after it are not written
    // --jobs may ask for more threads than there are cores.
    const tbb::global_control threads(tbb::global_control::max_allowed_parallelism,
                                      static_cast<std::size_t>(jobs));
    tbb::task_arena arena(jobs);
    arena.execute([&] {
      tbb::parallel_pipeline(
          static_cast<std::size_t>(jobs) * 4,
          tbb::make_filter<void, Chunk*>(tbb::filter_mode::serial_in_order,
                                         [&](tbb::flow_control& control) -> Chunk* {
                                           Chunk* chunk = pool.Take();
                                           const bool more =
                                               InterruptSignal() == 0 &&
                                               (sweep ? sweep->Fill(*chunk, chunk_rows)
                                                      : batch->Fill(*chunk, chunk_rows));
                                           if (!more) {
                                             pool.Give(chunk);
                                             control.stop();
                                             return nullptr;
                                           }
                                           return chunk;
                                         }) &
              tbb::make_filter<Chunk*, Chunk*>(tbb::filter_mode::parallel,
                                               [&](Chunk* chunk) {
                                                 run.Compute(*chunk);
                                                 return chunk;
                                               }) &
              tbb::make_filter<Chunk*, void>(tbb::filter_mode::serial_in_order, [&](Chunk* chunk) {
                if (!cut) {
                  sink->Write(chunk->text);
                  tally.Add(chunk->tally);
                  if (map) {
                    for (const MapCell& cell : chunk->cells) {
                      const auto i = static_cast<std::size_t>(cell.row);
                      map->values[i] = cell.value;
                      map->marks[i] = cell.marks;
                    }
                  }
                  cut = chunk->cut;
                }
                pool.Give(chunk);
                progress.Update(tally.rows);
              }));
    });
    progress.Finish();
    if (batch && !batch->LimitError().empty()) {
      // The rows before the record are whole and are written; nothing after it is guessed at.
      sink->Finish();
      err << kProgram << EscapedText(batch_name) << ", " << batch->LimitError() << '\n';
      return 1;
    }
    if (batch && batch->ReadFailed()) {
      const int error = file ? file->error() : 0;
      sink->Abandon();
      err << kProgram << "cannot read " << EscapedText(batch_name)
          << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << '\n';
      return 1;
    }
    sink->Finish();
  } catch (const Exception& e) {
    progress.Finish();
    sink->Abandon();
    err << kProgram << EscapedText(WithFullStop(e.what())) << '\n';
    return 1;
  }
  if (const int signal = InterruptSignal(); signal != 0) {
    // The map of a part of the grid is not drawn; its file keeps what it had.
    if (map_file) {
      map_file->Abandon();
    }
    err << kProgram << "stopped by " << (signal == SIGINT ? "SIGINT" : "SIGTERM") << ": "
        << tally.rows << " rows written\n";
    return 128 + signal;
  }
  if (map) {
    std::string picture;
    try {
      picture = renderer(*map);
    } catch (const Exception& e) {
      map_file->Abandon();
      err << kProgram << "the map " << EscapedText(*options.map) << ": "
          << EscapedText(WithFullStop(e.what())) << '\n';
      return 1;
    }
    try {
      map_file->Write(picture);
      map_file->Finish();
    } catch (const Exception& e) {
      err << kProgram << EscapedText(WithFullStop(e.what())) << '\n';
      return 1;
    }
  }
  PrintSummary(err, tally);
  return 0;
}

}  // namespace pitch::study
