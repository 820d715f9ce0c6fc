// The desktop's icon is the window's own: the 256 px PNG that is installed, reduced
// to 32 px by averaging, has the window icon's colours wherever that icon's pixel is
// one colour with its four neighbours (away from the edges of its shapes, where
// smoothing and the window's unsmoothed drawing differ), and every colour of the
// window's icon is compared at enough such pixels to cover its shape.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <algorithm>
#include <cstdlib>
#include <map>

#include "ui/resource.h"

namespace {

int Distance(QRgb a, QRgb b) {
  return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                   std::abs(qBlue(a) - qBlue(b)), std::abs(qAlpha(a) - qAlpha(b))});
}

TEST(IconTest, InstalledPngShowsTheWindowsIcon) {
  const QImage own = LoadAppIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(own.size(), QSize(32, 32));
  const QImage png(RUVANTA_SOURCE_DIR "/packaging/icons/ruvanta-256.png");
  ASSERT_EQ(png.size(), QSize(256, 256)) << "packaging/icons/ruvanta-256.png";
  const QImage reduced = png.convertToFormat(QImage::Format_ARGB32)
                             .scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

  std::map<QRgb, int> compared;
  for (int y = 1; y < 31; ++y) {
    for (int x = 1; x < 31; ++x) {
      const QRgb c = own.pixel(x, y);
      if (own.pixel(x - 1, y) != c || own.pixel(x + 1, y) != c || own.pixel(x, y - 1) != c ||
          own.pixel(x, y + 1) != c)
        continue;
      // Fully transparent pixels are equal whatever colour they carry.
      const QRgb d = reduced.pixel(x, y);
      if (qAlpha(c) == 0 && qAlpha(d) <= 48) {
        ++compared[0];
        continue;
      }
      EXPECT_LE(Distance(c, d), 48) << "at " << x << ", " << y << ": the window's icon has "
                                    << std::hex << c << ", the PNG " << d;
      ++compared[qAlpha(c) == 0 ? 0 : c];
    }
  }
  // Transparency, sky, land, sun and the red stroke.
  EXPECT_EQ(compared.size(), 5u);
  for (const auto& [colour, count] : compared)
    EXPECT_GE(count, 8) << "colour " << std::hex << colour << " compared at too few pixels";
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
