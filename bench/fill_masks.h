// Masks of the kinds a restoration meets, drawn from a seed: thin scratches, thick
// lines, text, blotches, bands along the picture's edges and a large hole. The same
// kind, size and seed give the same mask.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/planes.h"

enum class MaskKind { kScratches, kThickLines, kText, kBlotches, kBorders, kHole };

inline const char* MaskKindName(MaskKind kind) {
  switch (kind) {
    case MaskKind::kScratches:
      return "scratches";
    case MaskKind::kThickLines:
      return "thick lines";
    case MaskKind::kText:
      return "text";
    case MaskKind::kBlotches:
      return "blotches";
    case MaskKind::kBorders:
      return "borders";
    case MaskKind::kHole:
      return "large hole";
  }
  return "?";
}

namespace fillmasks {

inline void Disc(MaskPlane* m, double cx, double cy, double r) {
  const int x0 = std::max(0, int(std::floor(cx - r))),
            x1 = std::min(m->Width() - 1, int(std::ceil(cx + r)));
  const int y0 = std::max(0, int(std::floor(cy - r))),
            y1 = std::min(m->Height() - 1, int(std::ceil(cy + r)));
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x)
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) m->At(x, y) = 1;
}

// A quadratic curve from a to b bent towards c, drawn with discs of radius r.
inline void Curve(MaskPlane* m, double ax, double ay, double cx, double cy, double bx, double by,
                  double r) {
  const double length = std::hypot(cx - ax, cy - ay) + std::hypot(bx - cx, by - cy);
  const int steps = std::max(2, int(length * 2));
  for (int i = 0; i <= steps; ++i) {
    const double t = double(i) / steps, u = 1.0 - t;
    Disc(m, u * u * ax + 2 * u * t * cx + t * t * bx, u * u * ay + 2 * u * t * cy + t * t * by, r);
  }
}

// 5 x 7 block letters, rows from the top.
struct Glyph {
  char c;
  const char* rows[7];
};
const Glyph kFont[] = {
    {'M', {"X...X", "XX.XX", "X.X.X", "X.X.X", "X...X", "X...X", "X...X"}},
    {'E', {"XXXXX", "X....", "X....", "XXXX.", "X....", "X....", "XXXXX"}},
    {'O', {".XXX.", "X...X", "X...X", "X...X", "X...X", "X...X", ".XXX."}},
    {'R', {"XXXX.", "X...X", "X...X", "XXXX.", "X.X..", "X..X.", "X...X"}},
    {'I', {"XXXXX", "..X..", "..X..", "..X..", "..X..", "..X..", "XXXXX"}},
    {'S', {".XXXX", "X....", "X....", ".XXX.", "....X", "....X", "XXXX."}},
    {'P', {"XXXX.", "X...X", "X...X", "XXXX.", "X....", "X....", "X...."}},
    {'H', {"X...X", "X...X", "X...X", "XXXXX", "X...X", "X...X", "X...X"}},
    {'T', {"XXXXX", "..X..", "..X..", "..X..", "..X..", "..X..", "..X.."}},
    {'U', {"X...X", "X...X", "X...X", "X...X", "X...X", "X...X", ".XXX."}},
    {'1', {"..X..", ".XX..", "..X..", "..X..", "..X..", "..X..", ".XXX."}},
    {'9', {".XXX.", "X...X", "X...X", ".XXXX", "....X", "...X.", ".XX.."}},
    {'8', {".XXX.", "X...X", "X...X", ".XXX.", "X...X", "X...X", ".XXX."}},
    {'7', {"XXXXX", "....X", "...X.", "..X..", ".X...", ".X...", ".X..."}},
    {'2', {".XXX.", "X...X", "....X", "...X.", "..X..", ".X...", "XXXXX"}},
    {'0', {".XXX.", "X...X", "X..XX", "X.X.X", "XX..X", "X...X", ".XXX."}},
    {'4', {"...X.", "..XX.", ".X.X.", "X..X.", "XXXXX", "...X.", "...X."}},
};

inline void Text(MaskPlane* m, const std::string& text, int x0, int y0, int scale) {
  int x = x0;
  for (char ch : text) {
    for (const Glyph& g : kFont) {
      if (g.c != ch) continue;
      for (int r = 0; r < 7; ++r)
        for (int c = 0; c < 5; ++c) {
          if (g.rows[r][c] != 'X') continue;
          for (int dy = 0; dy < scale; ++dy)
            for (int dx = 0; dx < scale; ++dx) {
              const int px = x + c * scale + dx, py = y0 + r * scale + dy;
              if (px >= 0 && py >= 0 && px < m->Width() && py < m->Height()) m->At(px, py) = 1;
            }
        }
    }
    x += 6 * scale;
  }
}

}  // namespace fillmasks

// A W x H mask of `kind` drawn from `seed`.
inline MaskPlane MakeFillMask(MaskKind kind, int W, int H, std::uint32_t seed) {
  using namespace fillmasks;
  MaskPlane m;
  m.Resize(W, H);
  std::mt19937 gen(seed * 7919u + std::uint32_t(kind));
  auto uniform = [&](double a, double b) {
    return std::uniform_real_distribution<double>(a, b)(gen);
  };
  const double side = std::min(W, H);
  switch (kind) {
    case MaskKind::kScratches:
      for (int i = 0, n = 6 + int(gen() % 4); i < n; ++i)
        Curve(&m, uniform(0, W), uniform(0, H), uniform(0, W), uniform(0, H), uniform(0, W),
              uniform(0, H), 0.5 + 0.5 * (gen() % 3));
      break;
    case MaskKind::kThickLines:
      for (int i = 0, n = 3 + int(gen() % 3); i < n; ++i) {
        const double ax = uniform(0, W), ay = uniform(0, H), bx = uniform(0, W), by = uniform(0, H);
        Curve(&m, ax, ay, 0.5 * (ax + bx), 0.5 * (ay + by), bx, by,
              side / 160.0 * uniform(1.5, 3.0));
      }
      break;
    case MaskKind::kText: {
      const char* lines[] = {"MEMORIES 1987", "SUMMER", "PHOTO 2024", "HOME"};
      const int scale = std::max(1, int(side / 120.0));
      for (int i = 0; i < 4; ++i)
        Text(&m, lines[(i + seed) % 4], int(uniform(0, W * 0.5)),
             int(i * H / 4 + uniform(0, H / 4 - 8 * (scale + 1))), scale + int(gen() % 2));
      break;
    }
    case MaskKind::kBlotches:
      for (int i = 0, n = 4 + int(gen() % 4); i < n; ++i) {
        const double cx = uniform(0.1 * W, 0.9 * W), cy = uniform(0.1 * H, 0.9 * H);
        for (int j = 0, parts = 2 + int(gen() % 3); j < parts; ++j)
          Disc(&m, cx + uniform(-side / 40, side / 40), cy + uniform(-side / 40, side / 40),
               side / 80.0 * uniform(1.5, 3.5));
      }
      break;
    case MaskKind::kBorders: {
      const double pi = std::acos(-1.0);
      const double depth = side / 40.0, wave = side / 160.0, phase = uniform(0, 2 * pi);
      const bool left = gen() % 2, top = gen() % 2;
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          const double dx = left ? x : W - 1 - x, dy = top ? y : H - 1 - y;
          if (dx < depth + wave * std::sin(2 * pi * y / (side / 6) + phase) ||
              dy < depth + wave * std::sin(2 * pi * x / (side / 5) + phase))
            m.At(x, y) = 1;
        }
      break;
    }
    case MaskKind::kHole: {
      const int w = W / 4, h = H / 4;
      const int x0 = int(uniform(0.2 * W, 0.8 * W - w)), y0 = int(uniform(0.2 * H, 0.8 * H - h));
      for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) m.At(x, y) = 1;
      break;
    }
  }
  return m;
}
