// velmar's booleans against Boost.Polygon's Manhattan engine
// (polygon_90_set_data) on the same random rectangles: N + N rectangles
// with sides 100 to 5000 units in a 2,000,000-unit square (the input of
// bench/boolean_bench.cpp), AND, OR and XOR of the two sets, and the merge
// of the first set alone and of all 2N as one layer. Built only when the
// Boost headers are installed: a comparison, not a dependency.
//
//   manhattan_compare [N] [runs] [velmar | general]
//
// N defaults to 100000, runs to 5; a third argument "velmar" runs velmar
// alone (for profiling), "general" runs velmar's general sweep in place of
// the axis-parallel path (and Boost). Per operation the median CPU seconds of
// the runs, the output vertex count and the area of each engine, and their
// ratio, are printed. velmar's time is BooleanSweep on an operand list
// built beforehand (as the scripting layer hands it over); Boost's is the
// boolean of two sets filled beforehand plus taking the result out as
// polygons with holes (the form nearest to velmar's rings).
#include <time.h>

#include <algorithm>
#include <boost/polygon/polygon.hpp>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "foundation/box.h"
#include "geometry/boolean_sweep.h"
#include "geometry/point_list_order.h"
#include "geometry/point_system.h"
#include "geometry/rect_sweep.h"

namespace {

namespace gtl = boost::polygon;
using namespace boost::polygon::operators;
using Set = gtl::polygon_90_set_data<int>;
using Polygon = gtl::polygon_90_with_holes_data<int>;

double CpuNow() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::vector<velmar::Box> Rects(int perLayer) {
  std::mt19937_64 rng(0x5eed2024);
  std::uniform_int_distribution<int32_t> side(100, 5000);
  std::uniform_int_distribution<int32_t> pos(0, 2000000);
  std::vector<velmar::Box> r;
  r.reserve(size_t(2 * perLayer));
  for (int i = 0; i < 2 * perLayer; ++i) {
    const int32_t w = side(rng), h = side(rng);
    const int32_t x = pos(rng) % (2000000 - w), y = pos(rng) % (2000000 - h);
    r.emplace_back(x, y, x + w, y + h);
  }
  return r;
}

struct Result {
  double seconds = 0;
  long long vertices = 0;
  long double area = 0;
};

enum class Op { And, Or, Xor, MergeFirst, MergeAll };

Result RunVelmar(const std::vector<velmar::Box>& rects, int perLayer, Op op, int runs) {
  velmar::BooleanOpCode code = velmar::BooleanOpCode::And;
  if (op == Op::Or) code = velmar::BooleanOpCode::Or;
  if (op == Op::Xor) code = velmar::BooleanOpCode::Xor;
  if (op == Op::MergeFirst || op == Op::MergeAll) code = velmar::BooleanOpCode::Merge;
  const size_t count = op == Op::MergeFirst ? size_t(perLayer) : rects.size();
  std::vector<double> times;
  Result r;
  for (int k = 0; k < runs; ++k) {
    velmar::ScratchList in, out;
    for (size_t i = 0; i < count; ++i)
      velmar::BoxToRing(in.list, rects[i],
                        op != Op::MergeAll && i >= size_t(perLayer));
    const double t0 = CpuNow();
    velmar::BooleanSweep(in.list, &out.list, code, false);
    times.push_back(CpuNow() - t0);
    r.vertices = out.list.pointCount;
    r.area = velmar::ListArea(out.list);
  }
  r.seconds = Median(times);
  return r;
}

Result RunBoost(const std::vector<velmar::Box>& rects, int perLayer, Op op, int runs) {
  std::vector<double> times;
  Result r;
  for (int k = 0; k < runs; ++k) {
    Set a, b;
    const size_t count = op == Op::MergeFirst ? size_t(perLayer) : rects.size();
    for (size_t i = 0; i < count; ++i) {
      const velmar::Box& x = rects[i];
      Set& s = (op != Op::MergeAll && i >= size_t(perLayer)) ? b : a;
      s.insert(gtl::rectangle_data<int>(x.x1, x.y1, x.x2, x.y2));
    }
    std::vector<Polygon> polys;
    const double t0 = CpuNow();
    switch (op) {
      case Op::And: Set(a & b).get(polys); break;
      case Op::Or: Set(a | b).get(polys); break;
      case Op::Xor: Set(a ^ b).get(polys); break;
      default: a.get(polys); break;
    }
    times.push_back(CpuNow() - t0);
    r.vertices = 0;
    r.area = 0;
    for (const Polygon& p : polys) {
      r.vertices += static_cast<long long>(gtl::size(p));
      for (auto h = gtl::begin_holes(p); h != gtl::end_holes(p); ++h)
        r.vertices += static_cast<long long>(gtl::size(*h));
      r.area += (long double)gtl::area(p);
    }
  }
  r.seconds = Median(times);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const int perLayer = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  const bool velmarOnly = argc > 3 && std::string(argv[3]) == "velmar";
  if (argc > 3 && std::string(argv[3]) == "general") velmar::EnableRectilinearBoolean(false);
  const std::vector<velmar::Box> rects = Rects(perLayer);
  std::printf("%d + %d rectangles, median of %d runs, CPU seconds\n", perLayer, perLayer,
              runs);
  std::printf("%-14s %10s %12s %10s %12s %8s  %s\n", "operation", "velmar", "vertices",
              "boost", "vertices", "ratio", "areas");
  struct Row {
    const char* name;
    Op op;
  };
  for (const Row& row : {Row{"AND", Op::And}, Row{"OR", Op::Or}, Row{"XOR", Op::Xor},
                         Row{"merge {1 0}", Op::MergeFirst}, Row{"merge all", Op::MergeAll}}) {
    const Result v = RunVelmar(rects, perLayer, row.op, runs);
    const Result b = velmarOnly ? v : RunBoost(rects, perLayer, row.op, runs);
    std::printf("%-14s %10.3f %12lld %10.3f %12lld %8.2f  %s\n", row.name, v.seconds,
                v.vertices, b.seconds, b.vertices, v.seconds / b.seconds,
                v.area == b.area ? "equal" : "DIFFER");
    std::fflush(stdout);
  }
  return 0;
}
