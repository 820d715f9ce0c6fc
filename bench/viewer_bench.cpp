// Frames of the picture viewer in an 800 x 600 window: zoomed out to the whole
// picture (a little in and out around the middle each frame), and at one screen
// pixel per image pixel while panning. Only the visible part is drawn, from a
// half-size level when zoomed out, so a 6000 x 6000 picture should take about as
// long a frame as a 1000 x 1000 one. Runs on the offscreen platform unless
// QT_QPA_PLATFORM names another.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <memory>

#include "ui/picture_viewer.h"

namespace {

struct NoHost : CViewerHost {
  void UseMask(const QImage&) override {}
  void SaveMask(const QImage&) override {}
};

QImage Picture(int side) {
  QImage image(side, side, QImage::Format_RGB32);
  for (int y = 0; y < side; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < side; ++x) line[x] = qRgb(x * 255 / side, y * 255 / side, (x ^ y) & 255);
  }
  return image;
}

struct Viewer {
  NoHost host;
  std::unique_ptr<CPictureViewer> window;
  CViewerCanvas* canvas = nullptr;
  explicit Viewer(int side) {
    window = std::make_unique<CPictureViewer>(&host);
    window->SetPicture(ViewerPicture::kDamaged, Picture(side));
    canvas = window->Canvas();
    window->resize(800, 600);
    window->show();
    QApplication::processEvents();
    canvas->repaint();  // the first frame makes the half-size levels it needs
  }
  QPointF Middle() const { return QPointF(canvas->width(), canvas->height()) / 2.0; }
};

void BM_FrameZoomedOut(benchmark::State& state) {
  Viewer v(int(state.range(0)));
  int i = 0;
  for (auto _ : state) {
    v.canvas->ZoomAround(v.Middle(), (i++ % 2) ? 1.05 : 1.0 / 1.05);
    v.canvas->repaint();
  }
  state.counters["zoom"] = v.canvas->Zoom();
}
BENCHMARK(BM_FrameZoomedOut)->Arg(1000)->Arg(6000)->Unit(benchmark::kMillisecond);

void BM_FramePanning(benchmark::State& state) {
  const int side = int(state.range(0));
  Viewer v(side);
  const QPointF centre(side / 2.0, side / 2.0);
  int i = 0;
  for (auto _ : state) {
    v.canvas->CentreOn(centre + QPointF((i++ % 2) ? 30 : -30, 20));
    v.canvas->repaint();
  }
  state.counters["zoom"] = v.canvas->Zoom();
}
BENCHMARK(BM_FramePanning)->Arg(1000)->Arg(6000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
