// Opens the picture viewer on files given on the command line, for trying it by
// hand: ruvanta-viewer-demo DAMAGED [MASK [ORIGINAL [RESULT]]] (any picture format
// Qt reads). "Use this mask" and "Save mask..." write viewer-mask.bmp in the
// current folder and print what they did.
#include <QApplication>
#include <QImage>
#include <QImageReader>
#include <cstdio>

#include "ui/picture_viewer.h"

namespace {
class CPrintingHost : public CViewerHost {
 public:
  void UseMask(const QImage& mask) override { Write("use", mask); }
  void SaveMask(const QImage& mask) override { Write("save", mask); }

 private:
  static void Write(const char* what, const QImage& mask) {
    const bool ok = mask.save(QStringLiteral("viewer-mask.bmp"), "BMP");
    std::printf("%s: %dx%d format %d -> viewer-mask.bmp %s\n", what, mask.width(), mask.height(),
                int(mask.format()), ok ? "written" : "NOT written");
    std::fflush(stdout);
  }
};

QImage Load(int argc, char** argv, int index) {
  if (index >= argc) return QImage();
  QImage image(QString::fromLocal8Bit(argv[index]));
  if (image.isNull()) std::fprintf(stderr, "cannot read %s\n", argv[index]);
  return image;
}
}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DAMAGED [MASK [ORIGINAL [RESULT]]]\n", argv[0]);
    return 2;
  }
  // Big test pictures (6000 x 6000 is 144 MB as 32-bit pixels) pass Qt's default limit.
  QImageReader::setAllocationLimit(1024);
  CPrintingHost host;
  CPictureViewer viewer(&host);
  viewer.SetPicture(ViewerPicture::kDamaged, Load(argc, argv, 1));
  viewer.SetMask(Load(argc, argv, 2));
  viewer.SetPicture(ViewerPicture::kOriginal, Load(argc, argv, 3));
  viewer.SetPicture(ViewerPicture::kResult, Load(argc, argv, 4));
  viewer.show();
  return app.exec();
}
