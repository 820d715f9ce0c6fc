// Runs of equal values along the rows and columns of each channel of a colour
// plane, for the direction cross of the transport step: where the cross sees no
// gradient it must widen until one of its four arms reaches another value, and
// these runs tell at once how far that is.
//
// A row (or column) is a bitset of its boundaries: bit i is set when value i
// differs from value i - 1 (compared with !=, so +0 and -0 are one value). Each
// 64-bit word has a summary bit, so the next or previous boundary is found in a
// few word operations however long the run. A line is built from the plane when it
// is first asked for after Reset; every change of a pixel the engine reports then
// keeps the built lines exact (two bits of its row and two of its column).
#pragma once

#include <climits>
#include <cstdint>
#include <vector>

#include "engine/planes.h"

class CFlatRuns {
 public:
  static constexpr int kNone = INT_MAX;

  // Forgets everything built; the plane may have changed in any way.
  void Reset(const RgbPlane& plane);
  // Pixel (x, y) of the plane was given other values in the channels of `channels`
  // (bit c for channel c).
  void Changed(int x, int y, int channels) {
    if (m_rowsUsed[std::size_t(y)] | m_columnsUsed[std::size_t(x)]) Update(x, y, channels);
  }

  // Whether row y and column x of channel c are built (questions about them are
  // then cheap).
  bool Built(int c, int x, int y) const {
    return m_rows.built[std::size_t(c * m_nHeight + y)] &&
           m_columns.built[std::size_t(c * m_nWidth + x)];
  }
  // The smallest i >= from (i < W) of row y, channel c, with a boundary; kNone.
  int NextInRow(int c, int y, int from) { return Row(c, y).Next(from); }
  // The largest i in [lo, upTo] of row y with a boundary; -1 when none.
  int PrevInRow(int c, int y, int upTo, int lo) { return Row(c, y).Prev(upTo, lo); }
  int NextInColumn(int c, int x, int from) { return Column(c, x).Next(from); }
  int PrevInColumn(int c, int x, int upTo, int lo) { return Column(c, x).Prev(upTo, lo); }

 private:
  // One line's boundaries, as a view into the storage of its kind.
  struct Line {
    const std::uint64_t* bits;
    const std::uint64_t* summary;
    int length, words, summaries;
    int Next(int from) const;
    int Prev(int upTo, int lo) const;
  };
  struct Lines {
    int length = 0;  // cells per line
    int words = 0;   // 64-bit words per line
    int summaries = 0;
    std::vector<std::uint64_t> bits;
    std::vector<std::uint64_t> summary;
    std::vector<unsigned char> built;  // per line
    void Size(int lines, int cells);
    void Build(int line, const double* cells, std::size_t step);
    void Set(int line, int i, bool on) {
      std::uint64_t& word = bits[std::size_t(line) * words + std::size_t(i >> 6)];
      const std::uint64_t bit = std::uint64_t(1) << (i & 63);
      const std::uint64_t was = word;
      word = on ? (word | bit) : (word & ~bit);
      if ((was == 0) != (word == 0)) {
        std::uint64_t& s = summary[std::size_t(line) * summaries + std::size_t(i >> 12)];
        const std::uint64_t sbit = std::uint64_t(1) << ((i >> 6) & 63);
        s = word != 0 ? (s | sbit) : (s & ~sbit);
      }
    }
    Line View(int line) const {
      return Line{bits.data() + std::size_t(line) * words,
                  summary.data() + std::size_t(line) * summaries, length, words, summaries};
    }
  };
  Line Row(int c, int y);
  Line Column(int c, int x);
  void Update(int x, int y, int channels);

  const RgbPlane* m_plane = nullptr;
  int m_nWidth = 0;
  int m_nHeight = 0;
  Lines m_rows;     // line c * H + y
  Lines m_columns;  // line c * W + x
  // Whether some channel's row y (column x) is built: changes elsewhere need no look.
  std::vector<unsigned char> m_rowsUsed;
  std::vector<unsigned char> m_columnsUsed;
};
