// Area of the intersection of two simple polygons (intersectionArea).
//
// The method is Norman Hardy's exact integer-grid algorithm ("Area of
// intersection of two polygons"): no clipped polygon is ever built. The area
// of the intersection is the signed sum of the trapezoids between the x axis
// and the pieces of its boundary, and those pieces are
//   - the parts of the edges of either polygon from a boundary crossing to
//     the edge's end (or from its start to a crossing), and
//   - the whole edges of each polygon that lie inside the other, counted with
//     the winding number of the other polygon around them.
//
// The vertices are first snapped to a 64-bit integer grid whose low three bits
// carry marks: the vertex parity in x and a polygon mark in both axes. Thus no
// vertex of one polygon shares a coordinate with a vertex of the other, no
// crossing is degenerate, and the side tests below are exact integer products.

#include "trel_tools/image_utils.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "trel_tools/exception_l.h"

namespace {

// The grid spans [-kGridGamut / 2, kGridGamut / 2] in both axes, small enough
// that products of two grid coordinates stay far inside 64 bits.
constexpr double kGridGamut = 5e8;
constexpr double kGridMiddle = kGridGamut / 2;
// The low bits of every grid coordinate that hold the marks.
constexpr std::int64_t kMarkBits = 7;
constexpr std::int64_t kFirstPolygonMark = 0;
constexpr std::int64_t kSecondPolygonMark = 2;

struct Grid_point {
  std::int64_t x;
  std::int64_t y;
};

struct Grid_span {
  std::int64_t min;
  std::int64_t max;
};

// A grid vertex and the edge from it to the next vertex.
struct Grid_vertex {
  Grid_point p;
  Grid_span x_span;  // x range of the edge
  Grid_span y_span;
  int crossing_balance;  // crossings entering minus leaving the other polygon along the edge
};

Grid_span span_of(std::int64_t a, std::int64_t b) { return a < b ? Grid_span{a, b} : Grid_span{b, a}; }

bool spans_overlap(const Grid_span& p, const Grid_span& q) { return p.min < q.max && q.min < p.max; }

// Twice the signed area of the triangle p, q, r: positive when r lies to the
// left of the directed line p-q.
std::int64_t twice_signed_area(const Grid_point& p, const Grid_point& q, const Grid_point& r) {
  return q.x * r.y - q.y * r.x + p.x * (q.y - r.y) + p.y * (r.x - q.x);
}

// The point at fraction r from p to q, each coordinate truncated as a whole.
Grid_point point_at_fraction(const Grid_point& p, const Grid_point& q, double r) {
  return {static_cast<std::int64_t>(static_cast<double>(p.x) + r * static_cast<double>(q.x - p.x)),
          static_cast<std::int64_t>(static_cast<double>(p.y) + r * static_cast<double>(q.y - p.y))};
}

// The running sum of the trapezoids under the boundary of the intersection.
class Trapezoid_sum {
public:
  double area() const { return sum_; }

  // Every proper crossing of an edge of `a` with an edge of `b`: adds the
  // boundary pieces that start or end there and counts the crossing on both
  // edges.
  void add_crossings(std::vector<Grid_vertex>& a, std::vector<Grid_vertex>& b) {
    const std::size_t na = a.size() - 1, nb = b.size() - 1;
    for (std::size_t j = 0; j < na; ++j) {
      for (std::size_t k = 0; k < nb; ++k) {
        if (!spans_overlap(a[j].x_span, b[k].x_span) || !spans_overlap(a[j].y_span, b[k].y_span)) continue;
        // The ends of the edge of a on either side of the edge of b...
        const std::int64_t a_start_side = -twice_signed_area(a[j].p, b[k].p, b[k + 1].p);
        const std::int64_t a_end_side = twice_signed_area(a[j + 1].p, b[k].p, b[k + 1].p);
        const bool a_enters_b = a_start_side < 0;
        if (a_enters_b != (a_end_side < 0)) continue;
        // ... and the ends of the edge of b on either side of the edge of a.
        const std::int64_t b_start_side = twice_signed_area(b[k].p, a[j].p, a[j + 1].p);
        const std::int64_t b_end_side = -twice_signed_area(b[k + 1].p, a[j].p, a[j + 1].p);
        if ((b_start_side < 0) != (b_end_side < 0)) continue;
        if (a_enters_b)
          add_crossing(a[j], a[j + 1], b[k], b[k + 1], static_cast<double>(a_start_side),
                       static_cast<double>(a_end_side), static_cast<double>(b_start_side),
                       static_cast<double>(b_end_side));
        else
          add_crossing(b[k], b[k + 1], a[j], a[j + 1], static_cast<double>(b_start_side),
                       static_cast<double>(b_end_side), static_cast<double>(a_start_side),
                       static_cast<double>(a_end_side));
      }
    }
  }

  // Adds the edges of `inner` that lie inside `outer`: the winding number of
  // outer around the first vertex of inner, updated at each crossing.
  void add_inner_edges(const std::vector<Grid_vertex>& inner, const std::vector<Grid_vertex>& outer) {
    const int n_inner = static_cast<int>(inner.size()) - 1;
    const int n_outer = static_cast<int>(outer.size()) - 1;
    const Grid_point& p0 = inner[0].p;
    std::int64_t winding = 0;
    for (int c = n_outer - 1; c >= 0; --c) {
      if (outer[c].x_span.min < p0.x && p0.x < outer[c].x_span.max) {
        const bool left = twice_signed_area(p0, outer[c].p, outer[c + 1].p) > 0;
        if (left == (outer[c].p.x < outer[c + 1].p.x)) winding += left ? -1 : 1;
      }
    }
    for (int j = 0; j < n_inner; ++j) {
      if (winding != 0) add_trapezoid(inner[j].p, inner[j + 1].p, winding);
      winding += inner[j].crossing_balance;
    }
  }

private:
  void add_trapezoid(const Grid_point& from, const Grid_point& to, std::int64_t weight) {
    sum_ += static_cast<double>(weight * (to.x - from.x) * (to.y + from.y) / 2);
  }

  // The edge p-p1, entering the other polygon, crosses the edge q-q1, which
  // leaves it; the side values locate the crossing on each edge.
  void add_crossing(Grid_vertex& p, const Grid_vertex& p1, Grid_vertex& q, const Grid_vertex& q1, double p_start_side,
                    double p_end_side, double q_start_side, double q_end_side) {
    const double p_sum = p_start_side + p_end_side;
    const double q_sum = q_start_side + q_end_side;
    const double p_fraction = p_sum != 0.0 ? p_start_side / p_sum : 0.0;
    const double q_fraction = q_sum != 0.0 ? q_start_side / q_sum : 0.0;
    const Grid_point on_p = point_at_fraction(p.p, p1.p, p_fraction);
    const Grid_point on_q = point_at_fraction(q.p, q1.p, q_fraction);
    add_trapezoid(on_p, p1.p, 1);
    add_trapezoid(q1.p, on_q, 1);
    ++p.crossing_balance;
    --q.crossing_balance;
  }

  double sum_ = 0.0;
};

// The bounding box of both polygons and the scales that map it onto the grid.
struct Grid_frame {
  double min_x, min_y;
  double scale_x, scale_y;
};

// Grid vertices of one polygon with its mark, closed by a copy of vertex 0,
// and the spans of its edges. With an odd count the closing edge joins two
// vertices of the same x parity, so vertex 0 is moved up by one unit then.
std::vector<Grid_vertex> snap_to_grid(int n, const point* v, std::int64_t mark, const Grid_frame& frame) {
  std::vector<Grid_vertex> g(static_cast<std::size_t>(n) + 1);
  for (int i = 0; i < n; ++i) {
    g[i].p.x = (static_cast<std::int64_t>((v[i].x - frame.min_x) * frame.scale_x - kGridMiddle) & ~kMarkBits) |
               (i & 1) | mark;
    g[i].p.y = (static_cast<std::int64_t>((v[i].y - frame.min_y) * frame.scale_y - kGridMiddle) & ~kMarkBits) | mark;
  }
  if (n & 1) g[0].p.y += 1;
  g[n] = g[0];
  for (int i = 0; i < n; ++i) {
    g[i].x_span = span_of(g[i].p.x, g[i + 1].p.x);
    g[i].y_span = span_of(g[i].p.y, g[i + 1].p.y);
    g[i].crossing_balance = 0;
  }
  return g;
}

}  // namespace

double intersectionArea(int na, point a[], int nb, point b[]) {
  if (na < 3 || nb < 3) return 0.0;
  TREL_CHECK(a != nullptr && b != nullptr, "intersectionArea() : a vertex array is null");
  double min_x = a[0].x, max_x = a[0].x, min_y = a[0].y, max_y = a[0].y;
  auto extend = [&](int n, const point* v) {
    for (int i = 0; i < n; ++i) {
      TREL_CHECK(std::isfinite(v[i].x) && std::isfinite(v[i].y),
                 "intersectionArea() : vertex " << i << " is (" << v[i].x << "," << v[i].y
                                                << "), coordinates must be finite");
      min_x = std::min(min_x, v[i].x);
      max_x = std::max(max_x, v[i].x);
      min_y = std::min(min_y, v[i].y);
      max_y = std::max(max_y, v[i].y);
    }
  };
  extend(na, a);
  extend(nb, b);
  // A bounding box without width or height holds no area (and no grid).
  if (!(max_x > min_x) || !(max_y > min_y)) return 0.0;
  const Grid_frame frame{min_x, min_y, kGridGamut / (max_x - min_x), kGridGamut / (max_y - min_y)};
  if (!std::isfinite(frame.scale_x) || !std::isfinite(frame.scale_y)) return 0.0;

  std::vector<Grid_vertex> ga = snap_to_grid(na, a, kFirstPolygonMark, frame);
  std::vector<Grid_vertex> gb = snap_to_grid(nb, b, kSecondPolygonMark, frame);
  Trapezoid_sum sum;
  sum.add_crossings(ga, gb);
  sum.add_inner_edges(ga, gb);
  sum.add_inner_edges(gb, ga);
  return sum.area() / (frame.scale_x * frame.scale_y);
}
