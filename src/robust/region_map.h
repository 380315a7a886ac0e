// A certified picture of the stability region over two coefficients: the plane of the two is cut
// into cells, each cell (with the other coefficients over their whole intervals) decided on its
// own: proven stable, proven unstable for every set of it, holding a confirmed unstable set, or
// undecided within the cell's share of the search.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "robust/robust.h"

namespace pitch::robust {

enum class Cell : unsigned char {
  kUndecided = 0,
  kStable = 1,        // proven: every set of the cell stable
  kSomeUnstable = 2,  // a set of the cell that the single-set test confirms unstable
  kUnstable = 3,      // proven: a condition negative on the whole cell
};

struct RegionMap {
  int x = 0;  // the coefficients along x and y (0 … 4 for c1 … c5)
  int y = 1;
  std::vector<double> x_edges;  // the cells' edges, lo … hi
  std::vector<double> y_edges;
  std::vector<Cell> cells;               // cell (ix, iy) at ix·(y_edges.size() − 1) + iy
  std::array<std::int64_t, 4> counts{};  // by Cell
  bool interrupted = false;
};

// The cells of the box's plane over coefficients x and y, count_x × count_y of them, for the
// loop; the cells are decided on up to jobs threads.
RegionMap MapRegion(const Ratios& ratios, Loop loop, const CoefficientBox& box, int x, int y,
                    int count_x, int count_y, int jobs, const SearchLimits& limits);

}  // namespace pitch::robust
