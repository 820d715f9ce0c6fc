#include "engine/flat_runs.h"

#include <algorithm>
#include <cstring>

void CFlatRuns::Lines::Size(int lines, int cells) {
  length = cells;
  words = (cells + 63) / 64;
  summaries = (words + 63) / 64;
  bits.assign(std::size_t(lines) * words, 0);
  summary.assign(std::size_t(lines) * summaries, 0);
  built.assign(std::size_t(lines), 0);
}

// A line's words from the cell values p[0], p[step], p[2 step], ... and then its
// summary, in one pass.
void CFlatRuns::Lines::Build(int line, const double* p, std::size_t step) {
  std::uint64_t* b = bits.data() + std::size_t(line) * words;
  std::uint64_t* s = summary.data() + std::size_t(line) * summaries;
  std::memset(s, 0, std::size_t(summaries) * sizeof(std::uint64_t));
  for (int w = 0; w < words; ++w) {
    std::uint64_t word = 0;
    const int first = w == 0 ? 1 : w * 64, last = std::min(length, (w + 1) * 64);
    for (int i = first; i < last; ++i)
      word |= std::uint64_t(p[std::size_t(i) * step] != p[std::size_t(i - 1) * step]) << (i & 63);
    b[w] = word;
    if (word != 0) s[w >> 6] |= std::uint64_t(1) << (w & 63);
  }
  built[std::size_t(line)] = 1;
}

int CFlatRuns::Line::Next(int from) const {
  if (from >= length) return kNone;
  int w = from >> 6;
  const std::uint64_t first = bits[w] & (~std::uint64_t(0) << (from & 63));
  if (first != 0) return w * 64 + __builtin_ctzll(first);
  // The next word that holds a boundary, from the summary.
  ++w;
  if (w >= words) return kNone;
  int sw = w >> 6;
  std::uint64_t sbits = summary[sw] & (~std::uint64_t(0) << (w & 63));
  while (sbits == 0) {
    if (++sw >= summaries) return kNone;
    sbits = summary[sw];
  }
  const int word = sw * 64 + __builtin_ctzll(sbits);
  return word * 64 + __builtin_ctzll(bits[word]);
}

int CFlatRuns::Line::Prev(int upTo, int lo) const {
  if (upTo < lo) return -1;
  int w = upTo >> 6;
  const int top = upTo & 63;
  const std::uint64_t keep = top == 63 ? ~std::uint64_t(0) : (std::uint64_t(2) << top) - 1;
  const std::uint64_t first = bits[w] & keep;
  int found = -1;
  if (first != 0) {
    found = w * 64 + 63 - __builtin_clzll(first);
  } else if (w > 0) {
    --w;
    int sw = w >> 6;
    const int stop = w & 63;
    std::uint64_t sbits =
        summary[sw] & (stop == 63 ? ~std::uint64_t(0) : (std::uint64_t(2) << stop) - 1);
    while (sbits == 0 && sw > 0) sbits = summary[--sw];
    if (sbits != 0) {
      const int word = sw * 64 + 63 - __builtin_clzll(sbits);
      found = word * 64 + 63 - __builtin_clzll(bits[word]);
    }
  }
  return found >= lo ? found : -1;
}

void CFlatRuns::Reset(const RgbPlane& plane) {
  m_plane = &plane;
  if (plane.Width() != m_nWidth || plane.Height() != m_nHeight || m_rowsUsed.empty()) {
    m_nWidth = plane.Width();
    m_nHeight = plane.Height();
    m_rows.Size(3 * m_nHeight, m_nWidth);
    m_columns.Size(3 * m_nWidth, m_nHeight);
    m_rowsUsed.assign(std::size_t(m_nHeight), 0);
    m_columnsUsed.assign(std::size_t(m_nWidth), 0);
    return;
  }
  std::fill(m_rows.built.begin(), m_rows.built.end(), 0);
  std::fill(m_columns.built.begin(), m_columns.built.end(), 0);
  std::fill(m_rowsUsed.begin(), m_rowsUsed.end(), 0);
  std::fill(m_columnsUsed.begin(), m_columnsUsed.end(), 0);
}

CFlatRuns::Line CFlatRuns::Row(int c, int y) {
  const int line = c * m_nHeight + y;
  if (!m_rows.built[std::size_t(line)]) {
    m_rows.Build(line, m_plane->At(0, y) + c, std::size_t(m_plane->PixelStride()));
    m_rowsUsed[std::size_t(y)] = 1;
  }
  return m_rows.View(line);
}

CFlatRuns::Line CFlatRuns::Column(int c, int x) {
  const int line = c * m_nWidth + x;
  if (!m_columns.built[std::size_t(line)]) {
    m_columns.Build(line, m_plane->At(x, 0) + c, m_plane->RowStride());
    m_columnsUsed[std::size_t(x)] = 1;
  }
  return m_columns.View(line);
}

void CFlatRuns::Update(int x, int y, int channels) {
  const double* now = m_plane->At(x, y);
  const std::ptrdiff_t step = m_plane->PixelStride();
  const std::ptrdiff_t row = std::ptrdiff_t(m_plane->RowStride());
  for (int c = 0; c < 3; ++c) {
    if (!(channels & (1 << c))) continue;
    const int rowLine = c * m_nHeight + y;
    if (m_rows.built[std::size_t(rowLine)]) {
      if (x > 0) m_rows.Set(rowLine, x, now[c] != now[c - step]);
      if (x + 1 < m_nWidth) m_rows.Set(rowLine, x + 1, now[c + step] != now[c]);
    }
    const int columnLine = c * m_nWidth + x;
    if (m_columns.built[std::size_t(columnLine)]) {
      if (y > 0) m_columns.Set(columnLine, y, now[c] != now[c - row]);
      if (y + 1 < m_nHeight) m_columns.Set(columnLine, y + 1, now[c + row] != now[c]);
    }
  }
}
