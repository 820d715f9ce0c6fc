// Held-out checks. Planes are W x H, row by row; cell (x, y) is y * W + x.
//
// The clear zone of the mask is its dilation by `margin` in both directions (the
// (2 margin + 1)^2 box around every masked pixel), made by a running maximum along
// the rows and then along the columns. A copy may not touch it, nor the same dilation
// of the copies already placed in its round. A shift of a region is tried pixel by
// pixel and given up at its first pixel that fails, so the many shifts that land on
// the region itself cost next to nothing.
#include "engine/holdout.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace {
constexpr int kDirections = 8;
constexpr int kDirX[kDirections] = {1, -1, 0, 0, 1, -1, 1, -1};
constexpr int kDirY[kDirections] = {0, 0, 1, -1, 1, 1, -1, -1};

bool OnEdge(int x, int y, int W, int H) { return x == 0 || y == 0 || x == W - 1 || y == H - 1; }

// A copy's pixel lies as near the picture's edge as the pixel it copies, up to this
// distance: a band on the edge moves along it, a region in the middle never comes
// nearer the edge than this. (A fill's support is one-sided at the edge.)
constexpr int kEdgeReach = 8;

int EdgeDistance(int x, int y, int W, int H) {
  return std::min(kEdgeReach, std::min(std::min(x, y), std::min(W - 1 - x, H - 1 - y)));
}

// out = the dilation of `in` by r in both directions (box of side 2r + 1).
void Dilate(const std::vector<unsigned char>& in, int W, int H, int r,
            std::vector<unsigned char>* out) {
  std::vector<unsigned char> rows(in.size(), 0);
  for (int y = 0; y < H; ++y) {
    int last = -1 - r;  // the last set cell seen, scanning right
    for (int x = 0; x < W + r; ++x) {
      if (x < W && in[std::size_t(y) * W + x]) last = x;
      const int at = x - r;
      if (at >= 0 && at < W && x - last <= 2 * r) rows[std::size_t(y) * W + at] = 1;
    }
  }
  out->assign(in.size(), 0);
  for (int x = 0; x < W; ++x) {
    int last = -1 - r;
    for (int y = 0; y < H + r; ++y) {
      if (y < H && rows[std::size_t(y) * W + x]) last = y;
      const int at = y - r;
      if (at >= 0 && at < H && y - last <= 2 * r) (*out)[std::size_t(at) * W + x] = 1;
    }
  }
}

// Marks the box of side 2r + 1 around (x, y).
void MarkBox(std::vector<unsigned char>* zone, int W, int H, int x, int y, int r) {
  for (int yy = std::max(0, y - r); yy <= std::min(H - 1, y + r); ++yy)
    for (int xx = std::max(0, x - r); xx <= std::min(W - 1, x + r); ++xx)
      (*zone)[std::size_t(yy) * W + xx] = 1;
}

// How a copy is made: the whole region moved, the region moved with the pixels that
// would meet the mask or leave the picture left out, or moved over its own place.
enum class CopyKind { kWhole, kPartial, kOverlapping };

struct Option {
  int d, dir;
  CopyKind kind;
};

// The share of a region a partial copy must keep.
constexpr double kPartialShare = 1.0 / 3.0;

// How far region r reaches along direction dir (the extent of its box, projected).
int Extent(const MaskRegion& r, int dir) {
  const int w = r.box.x1 - r.box.x0, h = r.box.y1 - r.box.y0;
  if (kDirX[dir] == 0) return h;
  if (kDirY[dir] == 0) return w;
  return std::min(w, h);
}

// A masked pixel as the planner reads it: its place and its distance to the edge.
struct Cell {
  std::int32_t x, y, edge;
};

struct Planner {
  const MaskPlane& mask;
  const MaskRegions& regions;
  const HeldOutOptions& options;
  int W, H;
  std::vector<Cell> cells;           // of regions.cells, in their order
  std::vector<unsigned char> clear;  // dilation of the mask
  // For the regions that need a copy over their own place: the dilation of the rest
  // of the mask, made when first asked for.
  std::map<int, std::vector<unsigned char>> others;

  const std::vector<unsigned char>& Others(int index) {
    auto it = others.find(index);
    if (it != others.end()) return it->second;
    std::vector<unsigned char> rest(std::size_t(W) * H, 0);
    for (std::size_t c = 0; c < rest.size(); ++c)
      rest[c] = mask.Data()[c] && regions.label[c] != index;
    std::vector<unsigned char>& zone = others[index];
    Dilate(rest, W, H, options.margin, &zone);
    return zone;
  }

  bool BoxInside(const MaskRegion& r, int dx, int dy) const {
    return r.box.x0 + dx >= 0 && r.box.y0 + dy >= 0 && r.box.x1 + dx <= W && r.box.y1 + dy <= H;
  }

  const std::int32_t* Cells(const MaskRegion& r) const {
    return &regions.cells[std::size_t(r.first)];
  }
  const Cell* Places(const MaskRegion& r) const { return &cells[std::size_t(r.first)]; }

  // Whether a pixel of the region may be held out at (x, y): inside, as near the edge
  // as it is (see kEdgeReach).
  bool SameEdge(const Cell& from, int x, int y) const {
    return x >= 0 && y >= 0 && x < W && y < H && EdgeDistance(x, y, W, H) == from.edge;
  }

  // A whole copy moved by (dx, dy): every pixel kept, clear of the mask and of `placed`.
  bool StrictFits(const MaskRegion& r, int dx, int dy,
                  const std::vector<unsigned char>* placed) const {
    if (!BoxInside(r, dx, dy)) return false;
    const Cell* cells = Places(r);
    for (int i = 0; i < r.pixels; ++i) {
      const int x = cells[i].x + dx, y = cells[i].y + dy;
      if (!SameEdge(cells[i], x, y)) return false;
      const std::size_t c = std::size_t(y) * W + x;
      if (clear[c] || (placed && (*placed)[c])) return false;
    }
    return true;
  }

  // The pixels of a copy moved by (dx, dy) that may be held out and lie clear of the
  // mask and of `placed`; -1 when fewer than `need` remain.
  int PartialKept(const MaskRegion& r, int dx, int dy, int need,
                  const std::vector<unsigned char>* placed, std::vector<std::int32_t>* keep) const {
    if (keep) keep->clear();
    const Cell* cells = Places(r);
    int dropped = 0;
    const int spare = r.pixels - need;
    for (int i = 0; i < r.pixels; ++i) {
      const int x = cells[i].x + dx, y = cells[i].y + dy;
      const bool fits = SameEdge(cells[i], x, y);
      const std::size_t c = fits ? std::size_t(y) * W + x : 0;
      if (!fits || clear[c] || (placed && (*placed)[c])) {
        if (++dropped > spare) return -1;
        continue;
      }
      if (keep) keep->push_back(std::int32_t(c));
    }
    return r.pixels - dropped;
  }

  // A region that lies along the edge (its pixels on the edge at least twice its mean
  // depth: a band, a blotch cut by the edge, not a scratch that ends there) is filled
  // from one side only; a copy beside it, two pixels from the mask, would be filled
  // from both, so it gets edge rounds instead.
  static bool Banded(const MaskRegion& r) {
    return std::int64_t(r.edgePixels) * r.edgePixels >= 2 * std::int64_t(r.pixels);
  }

  int PartialNeed(const MaskRegion& r) const {
    return std::max(1, int(std::ceil(kPartialShare * r.pixels)));
  }

  // The held-out pixels of a copy over the region's own place (a hole too large to
  // move, a band along a whole edge): those inside the picture and outside the mask,
  // clear of the rest of it and of `placed`, and on the picture's edge only where the
  // pixel they copy is. Such a copy lies deeper inside than the region, next to it.
  int OverlapKept(const MaskRegion& r, int dx, int dy, const std::vector<unsigned char>& rest,
                  const std::vector<unsigned char>* placed, std::vector<std::int32_t>* keep) const {
    if (keep) keep->clear();
    const Cell* cells = Places(r);
    int kept = 0;
    for (int i = 0; i < r.pixels; ++i) {
      const int x = cells[i].x + dx, y = cells[i].y + dy;
      if (x < 0 || y < 0 || x >= W || y >= H) continue;
      if (OnEdge(x, y, W, H) && cells[i].edge != 0) continue;
      const std::size_t c = std::size_t(y) * W + x;
      if (mask.Data()[c] || rest[c] || (placed && (*placed)[c])) continue;
      ++kept;
      if (keep) keep->push_back(std::int32_t(c));
    }
    return kept;
  }

  std::vector<Option> Options(int index) {
    const MaskRegion& r = regions.regions[std::size_t(index)];
    std::vector<Option> list;
    for (int dir = 0; dir < kDirections; ++dir) {
      const int longest = Extent(r, dir) + 2 * options.margin + options.reach;
      bool found = false;
      for (int d = 1; d <= longest && !found; ++d)
        if (StrictFits(r, d * kDirX[dir], d * kDirY[dir], nullptr)) {
          list.push_back({d, dir, CopyKind::kWhole});
          found = true;
        }
      // A partial copy is for a region that crosses others: near it or not at all.
      const int nearby = std::min(longest, options.reach + 2 * options.margin);
      for (int d = 1; d <= nearby && !found && !Banded(r); ++d)
        if (PartialKept(r, d * kDirX[dir], d * kDirY[dir], PartialNeed(r), nullptr, nullptr) >= 0) {
          list.push_back({d, dir, CopyKind::kPartial});
          found = true;
        }
    }
    if (list.empty() && !Banded(r)) {
      const std::vector<unsigned char>& rest = Others(index);
      const int need = (r.pixels + 3) / 4;
      for (int dir = 0; dir < kDirections; ++dir) {
        const int longest = Extent(r, dir);
        const int step = std::max(1, longest / 32);
        for (int d = step; d <= longest; d += step)
          if (OverlapKept(r, d * kDirX[dir], d * kDirY[dir], rest, nullptr, nullptr) >= need) {
            list.push_back({d, dir, CopyKind::kOverlapping});
            break;
          }
      }
    }
    // Whole copies first, then the shortest.
    std::stable_sort(list.begin(), list.end(), [](const Option& a, const Option& b) {
      return a.kind != b.kind ? a.kind < b.kind : a.d < b.d;
    });
    return list;
  }
};
}  // namespace

namespace {
// Labels the parts of the mask connected by 8-neighbours for which same(c, n) holds,
// numbered in the row order of their first pixels, with their sizes, boxes and edge
// pixels.
template <typename Same>
void Label(const MaskPlane& mask, Same same, MaskRegions* m) {
  const int W = mask.Width(), H = mask.Height();
  m->width = W;
  m->height = H;
  m->label.assign(std::size_t(W) * H, -1);
  m->regions.clear();
  std::vector<std::int32_t> stack;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const std::size_t c = std::size_t(y) * W + x;
      if (!mask.Data()[c] || m->label[c] >= 0) continue;
      const std::int32_t id = std::int32_t(m->regions.size());
      MaskRegion r;
      r.box = {x, y, x + 1, y + 1};
      m->label[c] = id;
      stack.assign(1, std::int32_t(c));
      while (!stack.empty()) {
        const std::int32_t at = stack.back();
        stack.pop_back();
        const int px = at % W, py = at / W;
        ++r.pixels;
        r.edgePixels += OnEdge(px, py, W, H);
        r.box.x0 = std::min(r.box.x0, px);
        r.box.y0 = std::min(r.box.y0, py);
        r.box.x1 = std::max(r.box.x1, px + 1);
        r.box.y1 = std::max(r.box.y1, py + 1);
        for (int ny = std::max(0, py - 1); ny <= std::min(H - 1, py + 1); ++ny)
          for (int nx = std::max(0, px - 1); nx <= std::min(W - 1, px + 1); ++nx) {
            const std::size_t n = std::size_t(ny) * W + nx;
            if (mask.Data()[n] && m->label[n] < 0 && same(std::size_t(at), n)) {
              m->label[n] = id;
              stack.push_back(std::int32_t(n));
            }
          }
      }
      m->regions.push_back(r);
    }
}
}  // namespace

bool FindRegions(const MaskPlane& mask, MaskRegions* out, int tile) {
  try {
    const int W = mask.Width();
    MaskRegions m;
    Label(
        mask, [](std::size_t, std::size_t) { return true; }, &m);
    if (tile > 0) {
      // A part wider or higher than a tile that fills less than a quarter of its box
      // (a web of scratches, a long line) is cut along the tile grid.
      std::vector<unsigned char> cut(m.regions.size(), 0);
      bool any = false;
      for (std::size_t i = 0; i < m.regions.size(); ++i) {
        const MaskRegion& r = m.regions[i];
        const std::int64_t w = r.box.x1 - r.box.x0, h = r.box.y1 - r.box.y0;
        cut[i] = (w > tile || h > tile) && 4 * std::int64_t(r.pixels) < w * h;
        any = any || cut[i];
      }
      if (any) {
        const std::vector<std::int32_t> whole = m.label;
        auto same = [&](std::size_t a, std::size_t b) {
          if (!cut[std::size_t(whole[a])]) return true;
          const int ax = int(a % std::size_t(W)), ay = int(a / std::size_t(W));
          const int bx = int(b % std::size_t(W)), by = int(b / std::size_t(W));
          return ax / tile == bx / tile && ay / tile == by / tile;
        };
        Label(mask, same, &m);
      }
    }
    std::int64_t offset = 0;
    for (MaskRegion& r : m.regions) {
      r.first = offset;
      offset += r.pixels;
    }
    m.cells.resize(std::size_t(offset));
    std::vector<std::int64_t> next(m.regions.size());
    for (std::size_t i = 0; i < m.regions.size(); ++i) next[i] = m.regions[i].first;
    for (std::size_t c = 0; c < m.label.size(); ++c)
      if (m.label[c] >= 0) m.cells[std::size_t(next[std::size_t(m.label[c])]++)] = std::int32_t(c);
    *out = std::move(m);
    return true;
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  *out = MaskRegions();
  return false;
}

namespace {
// The edge (0 left, 1 right, 2 top, 3 bottom) nearest (x, y), the first of equals, and
// the distance to it.
int NearestEdge(int x, int y, int W, int H, int* distance) {
  const int d[4] = {x, W - 1 - x, y, H - 1 - y};
  int e = 0;
  for (int k = 1; k < 4; ++k)
    if (d[k] < d[e]) e = k;
  *distance = d[e];
  return e;
}

// The edge round for `edge` of the regions `which`: their pixels nearest that edge
// moved inward by the deepest of them, the picture cut by that depth. A region deeper
// than a third of the picture takes no part, nor one that keeps less than a third of
// its pixels nearest that edge clear of the rest of the mask. False when none is left.
bool EdgeRound(const MaskPlane& mask, const MaskRegions& regions, const std::vector<int>& which,
               int edge, int margin, HeldOutRound* round) {
  const int W = mask.Width(), H = mask.Height();
  const int side = edge < 2 ? W : H;
  std::vector<std::vector<std::int32_t>> near(which.size());
  int depth = 0;
  for (std::size_t w = 0; w < which.size(); ++w) {
    const MaskRegion& r = regions.regions[std::size_t(which[w])];
    const std::int32_t* cells = &regions.cells[std::size_t(r.first)];
    int own = 0;
    for (int j = 0; j < r.pixels; ++j) {
      int d = 0;
      if (NearestEdge(cells[j] % W, cells[j] / W, W, H, &d) != edge) continue;
      near[w].push_back(cells[j]);
      own = std::max(own, d + 1);
    }
    if (3 * own > side)
      near[w].clear();
    else
      depth = std::max(depth, own);
  }
  if (depth == 0) return false;
  const int dx = edge == 0 ? depth : edge == 1 ? -depth : 0;
  const int dy = edge == 2 ? depth : edge == 3 ? -depth : 0;
  PixelBox crop{edge == 0 ? depth : 0, edge == 2 ? depth : 0, edge == 1 ? W - depth : W,
                edge == 3 ? H - depth : H};
  const int cw = crop.x1 - crop.x0, ch = crop.y1 - crop.y0;
  std::vector<unsigned char> inside(std::size_t(cw) * ch), clear;
  for (int y = 0; y < ch; ++y)
    for (int x = 0; x < cw; ++x)
      inside[std::size_t(y) * cw + x] = mask.At(x + crop.x0, y + crop.y0) != 0;
  Dilate(inside, cw, ch, margin, &clear);
  round->crop = crop;
  if (!round->target.Resize(cw, ch) || !round->hidden.Resize(cw, ch)) throw std::bad_alloc();
  round->shifts.assign(regions.regions.size(), HeldOutShift());
  round->separated = true;
  auto fits = [&](std::int32_t c, int* x, int* y) {
    *x = c % W + dx - crop.x0;
    *y = c / W + dy - crop.y0;
    return *x >= 0 && *y >= 0 && *x < cw && *y < ch && !clear[std::size_t(*y) * cw + *x];
  };
  bool any = false;
  for (std::size_t w = 0; w < which.size(); ++w) {
    int kept = 0, x, y;
    for (std::int32_t c : near[w]) kept += fits(c, &x, &y);
    if (kept == 0 || 3 * kept < int(near[w].size())) continue;
    for (std::int32_t c : near[w])
      if (fits(c, &x, &y)) round->target.At(x, y) = 1;
    round->shifts[std::size_t(which[w])] = {dx, dy, true, false, kept};
    any = true;
  }
  if (!any) return false;
  for (std::size_t c = 0; c < inside.size(); ++c)
    round->hidden.Data()[c] = inside[c] | round->target.Data()[c];
  return true;
}
}  // namespace

FillOutcome PlanHeldOut(const MaskPlane& mask, const HeldOutOptions& options, HeldOutPlan* plan) {
  if (options.rounds < 1 || options.rounds > 8)
    return {FillStatus::kBadArgument,
            "rounds " + std::to_string(options.rounds) + " is not 1 .. 8"};
  if (options.margin < 0 || options.margin > 16)
    return {FillStatus::kBadArgument,
            "margin " + std::to_string(options.margin) + " is not 0 .. 16"};
  if (options.reach < 1 || options.reach > 4096)
    return {FillStatus::kBadArgument,
            "reach " + std::to_string(options.reach) + " is not 1 .. 4096"};
  if (options.tile != 0 && (options.tile < 8 || options.tile > 4096))
    return {FillStatus::kBadArgument,
            "tile " + std::to_string(options.tile) + " is not 0 or 8 .. 4096"};
  try {
    HeldOutPlan p;
    if (!FindRegions(mask, &p.regions, options.tile)) throw std::bad_alloc();
    const int W = mask.Width(), H = mask.Height();
    Planner planner{mask, p.regions, options, W, H, {}, {}, {}};
    planner.cells.resize(p.regions.cells.size());
    for (std::size_t i = 0; i < p.regions.cells.size(); ++i) {
      const int x = p.regions.cells[i] % W, y = p.regions.cells[i] / W;
      planner.cells[i] = {x, y, EdgeDistance(x, y, W, H)};
    }
    std::vector<unsigned char> masked(std::size_t(W) * H);
    for (std::size_t c = 0; c < masked.size(); ++c) masked[c] = mask.Data()[c] != 0;
    Dilate(masked, W, H, options.margin, &planner.clear);

    const int count = int(p.regions.regions.size());
    std::vector<std::vector<Option>> choices(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) choices[std::size_t(i)] = planner.Options(i);

    std::vector<unsigned char> placed;
    std::vector<std::int32_t> keep;
    std::vector<std::vector<unsigned char>> used(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) used[std::size_t(i)].assign(choices[std::size_t(i)].size(), 0);
    for (int k = 0; k < options.rounds; ++k) {
      HeldOutRound round;
      round.crop = {0, 0, W, H};
      if (!round.target.Resize(W, H)) throw std::bad_alloc();
      round.hidden = mask;
      if (round.hidden.Width() != W) throw std::bad_alloc();
      round.shifts.resize(std::size_t(count));
      placed.assign(std::size_t(W) * H, 0);
      for (int i = 0; i < count; ++i) {
        const MaskRegion& r = p.regions.regions[std::size_t(i)];
        const std::vector<Option>& list = choices[std::size_t(i)];
        for (std::size_t t = 0; t < list.size(); ++t) {
          const std::size_t which = (std::size_t(k) + t) % list.size();
          if (used[std::size_t(i)][which]) continue;  // no round repeats a copy
          const Option& o = list[which];
          const int dx = o.d * kDirX[o.dir], dy = o.d * kDirY[o.dir];
          keep.clear();
          const bool overlapping = o.kind == CopyKind::kOverlapping;
          if (overlapping) {
            if (planner.OverlapKept(r, dx, dy, planner.Others(i), &placed, &keep) <
                (r.pixels + 3) / 4)
              continue;
          } else if (o.kind == CopyKind::kPartial) {
            if (planner.PartialKept(r, dx, dy, planner.PartialNeed(r), &placed, &keep) < 0)
              continue;
          } else {
            if (!planner.StrictFits(r, dx, dy, &placed)) continue;
            const Cell* cells = planner.Places(r);
            for (int j = 0; j < r.pixels; ++j)
              keep.push_back(std::int32_t((cells[j].y + dy) * W + cells[j].x + dx));
          }
          used[std::size_t(i)][which] = 1;
          HeldOutShift& s = round.shifts[std::size_t(i)];
          s = {dx, dy, true, overlapping, int(keep.size())};
          if (overlapping) round.separated = false;
          for (std::int32_t c : keep) {
            round.target.Data()[c] = 1;
            round.hidden.Data()[c] = 1;
            MarkBox(&placed, W, H, c % W, c / W, options.margin);
          }
          break;
        }
      }
      p.rounds.push_back(std::move(round));
    }
    // Edge rounds, one per edge, for the regions along an edge that cannot move whole.
    std::vector<int> banded;
    for (int i = 0; i < count; ++i) {
      if (!planner.Banded(p.regions.regions[std::size_t(i)])) continue;
      bool whole = false;
      for (const Option& o : choices[std::size_t(i)]) whole = whole || o.kind == CopyKind::kWhole;
      if (!whole) banded.push_back(i);
    }
    for (int edge = 0; edge < 4 && !banded.empty(); ++edge) {
      HeldOutRound round;
      if (EdgeRound(mask, p.regions, banded, edge, options.margin, &round))
        p.rounds.push_back(std::move(round));
    }
    *plan = std::move(p);
  } catch (const std::bad_alloc&) {
    return {FillStatus::kOutOfMemory, "not enough memory to plan the held-out pixels"};
  } catch (const std::length_error&) {
    return {FillStatus::kOutOfMemory, "not enough memory to plan the held-out pixels"};
  }
  return {};
}

namespace {
// Whether the picture's pixel (x, y) is a held-out pixel of the round (a partial
// copy's pixels may fall outside the picture).
bool InCopy(const HeldOutRound& round, int x, int y) {
  x -= round.crop.x0;
  y -= round.crop.y0;
  return x >= 0 && y >= 0 && x < round.target.Width() && y < round.target.Height() &&
         round.target.At(x, y);
}
}  // namespace

template <typename Picture, typename Out>
bool HeldOutPicture(const Picture& damaged, const HeldOutPlan& plan, std::size_t round, Out* out) {
  if (round >= plan.rounds.size()) return false;
  const HeldOutRound& k = plan.rounds[round];
  const int cw = k.crop.x1 - k.crop.x0, ch = k.crop.y1 - k.crop.y0;
  if (!out->Resize(cw, ch)) return false;
  for (int y = 0; y < ch; ++y)
    std::copy(damaged.At(k.crop.x0, k.crop.y0 + y), damaged.At(k.crop.x0, k.crop.y0 + y) + 3 * cw,
              out->At(0, y));
  const int W = damaged.Width();
  for (std::size_t i = 0; i < plan.regions.regions.size(); ++i) {
    const HeldOutShift& s = k.shifts[i];
    if (!s.placed) continue;
    const MaskRegion& r = plan.regions.regions[i];
    for (int j = 0; j < r.pixels; ++j) {
      const std::int32_t c = plan.regions.cells[std::size_t(r.first + j)];
      const int x = c % W, y = c / W;
      if (!InCopy(k, x + s.dx, y + s.dy)) continue;
      const auto* from = damaged.At(x, y);
      auto* to = out->At(x + s.dx - k.crop.x0, y + s.dy - k.crop.y0);
      for (int c3 = 0; c3 < 3; ++c3) to[c3] = from[c3];
    }
  }
  return true;
}

// Doubles to doubles; bytes to doubles or to bytes (doubles to bytes would cut).
template bool HeldOutPicture(const RgbPlane&, const HeldOutPlan&, std::size_t, RgbPlane*);
template bool HeldOutPicture(const BytePlane&, const HeldOutPlan&, std::size_t, RgbPlane*);
template bool HeldOutPicture(const BytePlane&, const HeldOutPlan&, std::size_t, BytePlane*);

double HeldOutScores::Mse(int region, int candidate) const {
  const std::size_t i = std::size_t(region) * std::size_t(candidates) + std::size_t(candidate);
  if (pixels[i] == 0) return std::numeric_limits<double>::quiet_NaN();
  return squares[i] / (3.0 * double(pixels[i]));
}

double HeldOutScores::PooledMse(int candidate) const {
  double sum = 0.0;
  std::int64_t n = 0;
  for (int r = 0; r < regions; ++r) {
    const std::size_t i = std::size_t(r) * std::size_t(candidates) + std::size_t(candidate);
    sum += squares[i];
    n += pixels[i];
  }
  return n == 0 ? std::numeric_limits<double>::quiet_NaN() : sum / (3.0 * double(n));
}

double PsnrOfMse(double mse) {
  if (std::isnan(mse)) return mse;
  if (mse == 0.0) return std::numeric_limits<double>::infinity();
  return 20.0 * std::log10(255.0 / std::sqrt(mse));
}

namespace {
// Runs the candidates `which` over every round, adding to their scores.
template <typename Picture>
FillOutcome ScoreLane(const Picture& damaged, const HeldOutPlan& plan,
                      const std::vector<HeldOutCandidate>& candidates,
                      const std::vector<int>& which, const std::vector<RgbPlane>& pictures,
                      HeldOutScores* scores, std::size_t* failedAt) {
  const int W = damaged.Width();
  const int nc = int(candidates.size());
  RgbPlane work;
  std::vector<std::size_t> hidden;  // the round's hidden cells, put back between candidates
  for (std::size_t k = 0; k < plan.rounds.size(); ++k) {
    const HeldOutRound& round = plan.rounds[k];
    work = pictures[k];
    if (work.Width() != pictures[k].Width())
      return {FillStatus::kOutOfMemory, "not enough memory for a held-out picture"};
    hidden.clear();
    for (std::size_t cell = 0; cell < round.hidden.Size(); ++cell)
      if (round.hidden.Data()[cell]) hidden.push_back(cell);
    bool first = true;
    for (int c : which) {
      if (!first)
        for (std::size_t cell : hidden)
          for (int ch = 0; ch < 3; ++ch)
            work.Data()[cell * 3 + std::size_t(ch)] =
                pictures[k].Data()[cell * 3 + std::size_t(ch)];
      first = false;
      const FillOutcome o = candidates[std::size_t(c)].restore(&work, round.hidden, round.target);
      if (!o.ok()) {
        *failedAt = k * std::size_t(nc) + std::size_t(c);
        return o;
      }
      for (std::size_t i = 0; i < plan.regions.regions.size(); ++i) {
        const HeldOutShift& s = round.shifts[i];
        if (!s.placed) continue;
        const MaskRegion& r = plan.regions.regions[i];
        double sum = 0.0;
        std::int64_t n = 0;
        for (int j = 0; j < r.pixels; ++j) {
          const std::int32_t cell = plan.regions.cells[std::size_t(r.first + j)];
          const int x = cell % W + s.dx, y = cell / W + s.dy;
          if (!InCopy(round, x, y)) continue;
          const double* a = work.At(x - round.crop.x0, y - round.crop.y0);
          const auto* b = damaged.At(x, y);
          for (int ch = 0; ch < 3; ++ch) {
            const double e = a[ch] - double(b[ch]);
            sum += e * e;
          }
          ++n;
        }
        const std::size_t at = i * std::size_t(nc) + std::size_t(c);
        scores->squares[at] += sum;
        scores->pixels[at] += n;
      }
    }
  }
  return {};
}
}  // namespace

template <typename Picture>
FillOutcome ScoreHeldOut(const Picture& damaged, const HeldOutPlan& plan,
                         const std::vector<HeldOutCandidate>& candidates, int threads,
                         HeldOutScores* scores) {
  if (threads < 1)
    return {FillStatus::kBadArgument, "threads " + std::to_string(threads) + " is below 1"};
  const FillOutcome sizes =
      CheckSizes(damaged.Width(), damaged.Height(), plan.regions.width, plan.regions.height);
  if (!sizes.ok()) return sizes;
  try {
    HeldOutScores s;
    s.regions = int(plan.regions.regions.size());
    s.candidates = int(candidates.size());
    s.squares.assign(std::size_t(s.regions) * std::size_t(s.candidates), 0.0);
    s.pixels.assign(s.squares.size(), 0);
    s.copies.assign(std::size_t(s.regions), 0);
    for (const HeldOutRound& round : plan.rounds)
      for (int r = 0; r < s.regions; ++r)
        s.copies[std::size_t(r)] +=
            round.shifts[std::size_t(r)].placed && round.shifts[std::size_t(r)].pixels > 0;
    std::vector<RgbPlane> pictures(plan.rounds.size());
    for (std::size_t k = 0; k < plan.rounds.size(); ++k)
      if (!HeldOutPicture(damaged, plan, k, &pictures[k])) throw std::bad_alloc();
    // Lanes in order of their first candidate; lane j goes to thread j % threads.
    std::vector<int> lanes;
    for (const HeldOutCandidate& c : candidates)
      if (std::find(lanes.begin(), lanes.end(), c.lane) == lanes.end()) lanes.push_back(c.lane);
    const int used = std::max(1, std::min(threads, int(lanes.size())));
    std::vector<std::vector<int>> work(static_cast<std::size_t>(used));
    for (std::size_t j = 0; j < lanes.size(); ++j)
      for (int c = 0; c < int(candidates.size()); ++c)
        if (candidates[std::size_t(c)].lane == lanes[j]) work[j % std::size_t(used)].push_back(c);
    std::vector<FillOutcome> outcomes(static_cast<std::size_t>(used));
    std::vector<std::size_t> failedAt(static_cast<std::size_t>(used),
                                      std::numeric_limits<std::size_t>::max());
    // Each thread writes only its own candidates' scores.
    auto run = [&](std::size_t t) {
      try {
        outcomes[t] = ScoreLane(damaged, plan, candidates, work[t], pictures, &s, &failedAt[t]);
      } catch (const std::bad_alloc&) {
        outcomes[t] = {FillStatus::kOutOfMemory, "not enough memory for a held-out restoration"};
        failedAt[t] = 0;
      }
    };
    std::vector<std::thread> pool;
    try {
      for (std::size_t t = 1; t < std::size_t(used); ++t) pool.emplace_back(run, t);
    } catch (const std::system_error&) {
      for (std::thread& th : pool) th.join();
      pool.clear();
      for (std::size_t t = 1; t < std::size_t(used); ++t) run(t);
    }
    run(0);
    for (std::thread& th : pool) th.join();
    // The refusal met first in the order of a single thread.
    std::size_t first = std::numeric_limits<std::size_t>::max(), which = 0;
    for (std::size_t t = 0; t < std::size_t(used); ++t)
      if (!outcomes[t].ok() && failedAt[t] <= first) {
        first = failedAt[t];
        which = t;
      }
    if (first != std::numeric_limits<std::size_t>::max()) return outcomes[which];
    *scores = std::move(s);
  } catch (const std::bad_alloc&) {
    return {FillStatus::kOutOfMemory, "not enough memory for the held-out restorations"};
  } catch (const std::length_error&) {
    return {FillStatus::kOutOfMemory, "not enough memory for the held-out restorations"};
  }
  return {};
}

template FillOutcome ScoreHeldOut(const RgbPlane&, const HeldOutPlan&,
                                  const std::vector<HeldOutCandidate>&, int, HeldOutScores*);
template FillOutcome ScoreHeldOut(const BytePlane&, const HeldOutPlan&,
                                  const std::vector<HeldOutCandidate>&, int, HeldOutScores*);

namespace {
// A region's error with the pooled error mixed in (see ChooseHeldOut).
double Shrunk(const HeldOutScores& s, int region, int candidate, const HeldOutPrior& prior,
              double pooled) {
  const std::size_t i = std::size_t(region) * std::size_t(s.candidates) + std::size_t(candidate);
  const double n = double(s.pixels[i]);
  if (n == 0.0) return pooled;
  const double own = s.squares[i] / (3.0 * n);
  if (std::isnan(pooled)) return own;
  const double c = s.copies.empty() ? 1.0 : double(s.copies[std::size_t(region)]);
  const double w = (n / (n + prior.pixels)) * (c / (c + prior.copies));
  return w * own + (1.0 - w) * pooled;
}
}  // namespace

namespace {
HeldOutChoice Choose(const HeldOutPlan& plan, const HeldOutScores& scores,
                     const HeldOutPrior& prior);
}  // namespace

HeldOutChoice ChooseHeldOut(const HeldOutPlan& plan, const HeldOutScores& scores,
                            const HeldOutPrior& prior) {
  try {
    return Choose(plan, scores, prior);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  HeldOutChoice none;
  none.heldOutPsnr = none.estimatedPsnr = std::numeric_limits<double>::quiet_NaN();
  return none;
}

namespace {
HeldOutChoice Choose(const HeldOutPlan& plan, const HeldOutScores& scores,
                     const HeldOutPrior& prior) {
  HeldOutChoice choice;
  const int nc = scores.candidates;
  std::vector<double> pooled(static_cast<std::size_t>(nc));
  for (int c = 0; c < nc; ++c) pooled[std::size_t(c)] = scores.PooledMse(c);
  for (int c = 1; c < nc; ++c)
    if (pooled[std::size_t(c)] < pooled[std::size_t(choice.overall)]) choice.overall = c;
  choice.regions.resize(std::size_t(scores.regions));
  double squares = 0.0, weighted = 0.0, total = 0.0;
  std::int64_t pixels = 0;
  for (int r = 0; r < scores.regions; ++r) {
    RegionChoice& rc = choice.regions[std::size_t(r)];
    rc.candidate = choice.overall;
    double best = Shrunk(scores, r, choice.overall, prior, pooled[std::size_t(choice.overall)]);
    for (int c = 0; c < nc; ++c) {
      const double e = Shrunk(scores, r, c, prior, pooled[std::size_t(c)]);
      if (e < best) {
        best = e;
        rc.candidate = c;
      }
    }
    const std::size_t i = std::size_t(r) * std::size_t(nc) + std::size_t(rc.candidate);
    rc.heldOutPixels = scores.pixels[i];
    rc.heldOutPsnr = PsnrOfMse(scores.Mse(r, rc.candidate));
    squares += scores.squares[i];
    pixels += scores.pixels[i];
    const double size = double(plan.regions.regions[std::size_t(r)].pixels);
    weighted += size * best;
    total += size;
  }
  choice.heldOutPsnr = pixels ? PsnrOfMse(squares / (3.0 * double(pixels)))
                              : std::numeric_limits<double>::quiet_NaN();
  choice.estimatedPsnr =
      total > 0.0 ? PsnrOfMse(weighted / total) : std::numeric_limits<double>::quiet_NaN();
  return choice;
}

}  // namespace

double EstimatedPsnr(const HeldOutPlan& plan, const HeldOutScores& scores, int candidate,
                     const HeldOutPrior& prior) {
  if (candidate < 0 || candidate >= scores.candidates)
    return std::numeric_limits<double>::quiet_NaN();
  const double pooled = scores.PooledMse(candidate);
  double weighted = 0.0, total = 0.0;
  for (int r = 0; r < scores.regions; ++r) {
    const double size = double(plan.regions.regions[std::size_t(r)].pixels);
    weighted += size * Shrunk(scores, r, candidate, prior, pooled);
    total += size;
  }
  return total > 0.0 ? PsnrOfMse(weighted / total) : std::numeric_limits<double>::quiet_NaN();
}

Restorer LocalRestorer(int reach, std::function<FillOutcome(RgbPlane*, const MaskPlane&)> fill) {
  return [reach, fill](RgbPlane* work, const MaskPlane& hidden, const MaskPlane& target) {
    const FillOutcome sizes =
        CheckSizes(hidden.Width(), hidden.Height(), target.Width(), target.Height());
    if (!sizes.ok()) return sizes;
    const int W = hidden.Width(), H = hidden.Height();
    MaskPlane part;
    if (!part.Resize(W, H))
      return FillOutcome{FillStatus::kOutOfMemory, "not enough memory for a held-out part"};
    std::vector<std::int32_t> stack;
    try {
      for (std::size_t c = 0; c < target.Size(); ++c)
        if (target.Data()[c] && hidden.Data()[c] && !part.Data()[c]) {
          part.Data()[c] = 1;
          stack.push_back(std::int32_t(c));
        }
      while (!stack.empty()) {
        const std::int32_t at = stack.back();
        stack.pop_back();
        const int x = at % W, y = at / W;
        for (int dy = -reach; dy <= reach; ++dy)
          for (int dx = -reach; dx <= reach; ++dx) {
            if (std::abs(dx) + std::abs(dy) > reach) continue;
            const int nx = x + dx, ny = y + dy;
            if (nx < 0 || ny < 0 || nx >= W || ny >= H) continue;
            const std::size_t n = std::size_t(ny) * W + nx;
            if (hidden.Data()[n] && !part.Data()[n]) {
              part.Data()[n] = 1;
              stack.push_back(std::int32_t(n));
            }
          }
      }
    } catch (const std::bad_alloc&) {
      return FillOutcome{FillStatus::kOutOfMemory, "not enough memory for a held-out part"};
    }
    return fill(work, part);
  };
}
