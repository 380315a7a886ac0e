// The picture renderer program as the command line runs it: its pictures are byte for byte the
// ones drawn in-process by the window's code, and a renderer that is missing, fails, answers
// garbage or hangs is an error of the picture, soon.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QList>
#include <QPointF>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <thread>

#include "cli/calculate.h"
#include "cli/renderer_process.h"
#include "core/errors.h"
#include "ui/bode_export.h"
#include "ui/fonts.h"
#include "ui/heat_map.h"
#include "ui/plot_export.h"

namespace pitch {
namespace {

namespace fs = std::filesystem;

const cli::RendererSettings kRenderer{PITCH_RENDERER_PROGRAM, 60};

const cli::Outcome& Defaults() {
  static const cli::Outcome outcome = cli::Calculate(cli::CoefficientTextsOf({}, '.'), true);
  return outcome;
}

// The same picture through the renderer program and drawn here by the window's code.
struct SameRow {
  const char* name;
  PictureFormat format;
  char separator;
  int width;
  int height;
};
void PrintTo(const SameRow& row, std::ostream* os) { *os << row.name; }

class ThroughTheRenderer : public ::testing::TestWithParam<SameRow> {};

TEST_P(ThroughTheRenderer, TheResponseChartIsTheInProcessPicture) {
  const SameRow& row = GetParam();
  const std::vector<Real> times = SampleTimes();
  const std::vector<double> t(times.begin(), times.end());
  const std::vector<double> h(Defaults().teta.values().begin(), Defaults().teta.values().end());
  QList<QPointF> points;
  for (std::size_t i = 0; i < t.size(); ++i) {
    points.append(QPointF(t[i], h[i]));
  }
  const std::string here =
      RenderResponsePlot(points, QSize(row.width, row.height), row.separator, row.format);
  const std::string child = cli::ChildPlotRenderer(kRenderer)(
      {t, h, row.width, row.height, row.format == PictureFormat::kSvg, row.separator});
  EXPECT_GT(here.size(), 1000u);
  EXPECT_TRUE(here == child) << here.size() << " bytes here, " << child.size() << " from the child";
}

TEST_P(ThroughTheRenderer, TheBodeDiagramIsTheInProcessPicture) {
  const SameRow& row = GetParam();
  const analysis::BodeData& data = *Defaults().frequency_response;
  const std::string here =
      RenderBodePlot(data, QSize(row.width, row.height), row.separator, row.format);
  const std::string child = cli::ChildBodeRenderer(kRenderer)(
      {data, row.width, row.height, row.format == PictureFormat::kSvg, row.separator});
  EXPECT_TRUE(here == child) << here.size() << " bytes here, " << child.size() << " from the child";
}

INSTANTIATE_TEST_SUITE_P(Pictures, ThroughTheRenderer,
                         ::testing::Values(SameRow{"png_comma", PictureFormat::kPng, ',', 768, 379},
                                           SameRow{"png_full_stop_large", PictureFormat::kPng, '.',
                                                   1200, 800},
                                           SameRow{"svg", PictureFormat::kSvg, ',', 800, 640}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(ThroughTheRenderer, TheMapIsTheInProcessPicture) {
  study::MapRequest map;
  map.x_name = "c2";
  map.y_name = "c3";
  map.x_values = {0.1, 0.5, 1.0};
  map.y_values = {-5, 5};
  map.values = {1, std::numeric_limits<double>::quiet_NaN(), 3, 4, 5, 6};
  map.marks = {study::kMarkFailed, 0, 0, study::kMarkDiverging, 0, 0};
  map.value_name = "overshoot, %";
  HeatMapData data;
  data.x_name = "c2";
  data.y_name = "c3";
  data.x_values = map.x_values;
  data.y_values = map.y_values;
  data.values = map.values;
  data.marks = map.marks;
  data.value_name = QStringLiteral("overshoot, %");
  for (const bool svg : {false, true}) {
    map.svg = svg;
    const std::string here = RenderHeatMap(data, svg ? PictureFormat::kSvg : PictureFormat::kPng);
    EXPECT_TRUE(here == cli::ChildMapRenderer(kRenderer)(map)) << (svg ? "svg" : "png");
  }
}

// A renderer that is not one: a script in a folder of the test's own.
class FakeRenderer : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("pitch-renderer-test-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  cli::RendererSettings Script(const std::string& body, unsigned timeout = 60) {
    const fs::path path = dir_ / "renderer";
    std::ofstream(path) << "#!/bin/sh\n" << body << '\n';
    fs::permissions(path, fs::perms::owner_all);
    return {path.string(), timeout};
  }

  // The error of drawing the default response through this renderer.
  static std::string ErrorOf(const cli::RendererSettings& settings) {
    const std::vector<double> t(1000, 0.0);
    try {
      cli::ChildPlotRenderer(settings)({t, t, 768, 379, false, '.'});
    } catch (const cli::ERendererMissing& e) {
      return std::string("missing: ") + e.what();
    } catch (const EPlotError& e) {
      return e.what();
    }
    return "no error";
  }

  fs::path dir_;
};

TEST_F(FakeRenderer, MissingIsAnErrorOfItsOwnKind) {
  EXPECT_EQ(ErrorOf({(dir_ / "nowhere").string(), 60}),
            "missing: The chart cannot be drawn: the picture renderer " +
                (dir_ / "nowhere").string() + " is not installed (No such file or directory)");
}

struct FailureRow {
  const char* name;
  const char* script;
  const char* error;
};
void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }

class FailingRenderer : public FakeRenderer, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(FailingRenderer, IsAnErrorOfThePicture) {
  EXPECT_EQ(ErrorOf(Script(GetParam().script)), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, FailingRenderer,
    ::testing::Values(
        FailureRow{"exit_code", "cat >/dev/null; exit 3",
                   "The chart cannot be drawn: the renderer ended with exit code 3 without a "
                   "picture"},
        FailureRow{"crash", "cat >/dev/null; kill -SEGV $$",
                   "The chart cannot be drawn: the renderer ended with signal 11 "
                   "(Segmentation fault)"},
        FailureRow{"reads_nothing", "exit 0",
                   "The chart cannot be drawn: the renderer ended with exit code 0 without a "
                   "picture"},
        FailureRow{"garbage", "cat >/dev/null; echo PNG",
                   "The chart cannot be drawn: the renderer's message is damaged: it does not "
                   "start with \"pitch-autopilot picture 1\"; the renderer ended with exit code 0 "
                   "without a picture"},
        FailureRow{"answers_an_error",
                   "cat >/dev/null; printf 'pitch-autopilot picture 1\\nerror_kind\\0"
                   "\\012\\0\\0\\0\\0\\0\\0\\0EPlotErrorerror\\0\\004\\0\\0\\0\\0\\0\\0\\0oops'",
                   "oops"}),
    [](const auto& row) { return std::string(row.param.name); });

// A renderer that hangs (waiting, say, for a thread that could not start) is stopped after the
// time and the picture is an error; so is one that closes its output and goes on running.
TEST_F(FakeRenderer, ThatHangsIsStoppedAfterTheTime) {
  for (const char* script : {"sleep 30", "cat >/dev/null; exec >&-; sleep 30"}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOf(Script(script, 1)),
              "The chart cannot be drawn: the renderer did not finish within 1 s and was stopped");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << script;
  }
}

// A large picture gets more time: 2 s for each million pixels over the base time.
TEST_F(FakeRenderer, ALargePictureGetsMoreTime) {
  const cli::RendererSettings settings = Script(
      "cat >/dev/null; sleep 2; printf 'pitch-autopilot picture 1\\npicture\\0"
      "\\003\\0\\0\\0\\0\\0\\0\\0PNG'",
      1);
  const std::vector<double> t(1000, 0.0);
  EXPECT_EQ(cli::ChildPlotRenderer(settings)({t, t, 2000, 1500, false, '.'}), "PNG");
  EXPECT_EQ(ErrorOf(settings),
            "The chart cannot be drawn: the renderer did not finish within 1 s and was stopped");
}

// Whether the process runs (a zombie waiting for its new parent has ended).
bool Running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) {
    return false;
  }
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

// A child the renderer leaves running with the answer pipe open does not spoil a finished
// picture: the answer is complete at its stated length once the renderer has ended, and the
// child goes with the renderer's process group.
TEST_F(FakeRenderer, AChildHoldingThePipeDoesNotSpoilThePicture) {
  const std::string pid_file = (dir_ / "child.pid").string();
  const cli::RendererSettings settings =
      Script("cat >/dev/null; sleep 30 & echo $! > " + pid_file +
                 "; printf 'pitch-autopilot picture 1\\npicture\\0"
                 "\\003\\0\\0\\0\\0\\0\\0\\0PNG'",
             5);
  const std::vector<double> t(1000, 0.0);
  const auto start = std::chrono::steady_clock::now();
  std::string picture;
  try {
    picture = cli::ChildPlotRenderer(settings)({t, t, 768, 379, false, '.'});
  } catch (const EPlotError& e) {
    picture = e.what();
  }
  EXPECT_EQ(picture, "PNG");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  pid_t child = 0;
  std::ifstream(pid_file) >> child;
  ASSERT_GT(child, 0);
  bool running = true;
  for (int i = 0; i < 200 && running; ++i) {
    running = Running(child);
    if (running) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (running) {
    ::kill(child, SIGKILL);
  }
  EXPECT_FALSE(running) << "the renderer's child runs on";
}

// With SIGCHLD ignored (a parent may hand that down) the kernel reaps the renderer itself: its
// end is known, its exit status is not, and the message says so.
TEST_F(FakeRenderer, ReapedElsewhereSaysSo) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  struct sigaction previous {};
  ::sigaction(SIGCHLD, &ignore, &previous);
  const std::string error = ErrorOf(Script("cat >/dev/null; exit 3"));
  ::sigaction(SIGCHLD, &previous, nullptr);
  EXPECT_EQ(error,
            "The chart cannot be drawn: the renderer ended without a picture, its exit status "
            "taken elsewhere (No child processes)");
}

// The real renderer refuses a request it cannot read, with its reason.
TEST(Renderer, RefusesARequestOfAnotherKind) {
  const std::string out = testing::TempDir() + "/renderer-answer";
  const std::string command = std::string("printf 'pitch-autopilot picture 1\\nkind\\0") +
                              "\\006\\0\\0\\0\\0\\0\\0\\0sketch' | " + PITCH_RENDERER_PROGRAM +
                              " > " + out;
  EXPECT_NE(std::system(command.c_str()), 0);
  std::ifstream in(out, std::ios::binary);
  const std::string answer{std::istreambuf_iterator<char>(in), {}};
  EXPECT_NE(answer.find("the renderer cannot draw this request: no picture of the kind \"sketch\""),
            std::string::npos)
      << answer;
}

}  // namespace
}  // namespace pitch

int main(int argc, char** argv) {
  // Headless also when the test list is read (ctest's discovery runs the program bare).
  qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QT_NO_GLIB", "1");
  QApplication application(argc, argv);
  pitch::EnsureTahoma();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
