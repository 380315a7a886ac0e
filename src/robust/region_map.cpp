#include "robust/region_map.h"

#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/task_arena.h>

#include <atomic>

namespace pitch::robust {

namespace {

// count + 1 edges from lo to hi, the ends exact: lo + (hi − lo)·i/count in extended precision.
std::vector<double> Edges(double lo, double hi, int count) {
  std::vector<double> e(static_cast<std::size_t>(count + 1));
  for (int i = 0; i <= count; ++i) {
    e[static_cast<std::size_t>(i)] =
        static_cast<double>(lo + (static_cast<long double>(hi) - lo) * i / count);
  }
  e.front() = lo;
  e.back() = hi;
  return e;
}

// Each cell gets this share of the search.
constexpr std::int64_t kBoxesPerCell = 4000;

}  // namespace

RegionMap MapRegion(const Ratios& ratios, Loop loop, const CoefficientBox& box, int x, int y,
                    int count_x, int count_y, int jobs, const SearchLimits& limits) {
  RegionMap m;
  m.x = x;
  m.y = y;
  const auto xi = static_cast<std::size_t>(x);
  const auto yi = static_cast<std::size_t>(y);
  m.x_edges = Edges(box.lo[xi], box.hi[xi], count_x);
  m.y_edges = Edges(box.lo[yi], box.hi[yi], count_y);
  m.cells.assign(static_cast<std::size_t>(count_x) * static_cast<std::size_t>(count_y),
                 Cell::kUndecided);
  SearchLimits cell_limits = limits;
  cell_limits.max_boxes = kBoxesPerCell;
  std::atomic<bool> interrupted{false};
  tbb::task_arena arena(std::max(1, jobs));
  arena.execute([&] {
    tbb::parallel_for(std::size_t{0}, m.cells.size(), [&](std::size_t k) {
      if (interrupted.load(std::memory_order_relaxed)) {
        return;
      }
      const std::size_t ix = k / static_cast<std::size_t>(count_y);
      const std::size_t iy = k % static_cast<std::size_t>(count_y);
      Set lo = box.lo;
      Set hi = box.hi;
      lo[xi] = m.x_edges[ix];
      hi[xi] = m.x_edges[ix + 1];
      lo[yi] = m.y_edges[iy];
      hi[yi] = m.y_edges[iy + 1];
      // The set of the cell nearest the nominal set stands in for it (the search's points stay
      // within the cell).
      Set nominal = box.nominal;
      for (std::size_t i = 0; i < kCoefficients; ++i) {
        nominal[i] = std::clamp(nominal[i], lo[i], hi[i]);
      }
      bool everywhere = false;
      const Decision d = DecideBoxBetween(ratios, loop, lo, hi, nominal, cell_limits, &everywhere);
      if (d.interrupted) {
        interrupted = true;
        return;
      }
      m.cells[k] = d.verdict == Verdict::kProven ? Cell::kStable
                   : d.verdict == Verdict::kRefuted
                       ? (everywhere ? Cell::kUnstable : Cell::kSomeUnstable)
                       : Cell::kUndecided;
    });
  });
  m.interrupted = interrupted;
  for (const Cell c : m.cells) {
    ++m.counts[static_cast<std::size_t>(c)];
  }
  return m;
}

}  // namespace pitch::robust
