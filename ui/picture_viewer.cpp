#include "ui/picture_viewer.h"

#include <QAction>
#include <QActionGroup>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSpinBox>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "ui/dialog_framework.h"

namespace {
const char* const kPictureNames[3] = {"Damaged", "Result", "Original"};

QString ZoomText(double zoom) {
  const double percent = zoom * 100.0;
  return percent >= 10.0 ? QStringLiteral("%1 %").arg(std::round(percent))
                         : QStringLiteral("%1 %").arg(percent, 0, 'f', 1);
}
}  // namespace

CPictureViewer::CPictureViewer(CViewerHost* host, QWidget* parent)
    : QWidget(parent, Qt::Window), m_host(host), m_canvas(new CViewerCanvas(this)) {
  setWindowTitle(tr("Viewer"));
  setFont(DialogFont());

  auto* bar = new QToolBar(this);
  bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  bar->setFloatable(false);
  bar->setMovable(false);
  auto addButton = [bar](QAction* action) { bar->addAction(action); };

  auto* pictures = new QActionGroup(this);
  for (int i = 0; i < 3; ++i) {
    const auto which = ViewerPicture(i);
    const QString name = tr(kPictureNames[i]);
    m_show[i] = AddAction(name, tr("Show the %1 picture").arg(name.toLower()),
                          {QKeySequence(Qt::Key_1 + i)}, true);
    pictures->addAction(m_show[i]);
    connect(m_show[i], &QAction::triggered, this, [this, which] { ShowPicture(which); });
    addButton(m_show[i]);
  }
  bar->addSeparator();
  m_fit = AddAction(tr("Fit"), tr("Fit the picture to the window"),
                    {Qt::Key_0, Qt::Key_F, Qt::CTRL | Qt::Key_0}, false);
  connect(m_fit, &QAction::triggered, m_canvas, &CViewerCanvas::FitToWindow);
  m_actual = AddAction(tr("100 %"), tr("One screen pixel per picture pixel"),
                       {Qt::CTRL | Qt::Key_1}, false);
  connect(m_actual, &QAction::triggered, m_canvas, &CViewerCanvas::ActualSize);
  m_zoomIn = AddAction(tr("+"), tr("Zoom in"), {Qt::Key_Plus, Qt::Key_Equal}, false);
  connect(m_zoomIn, &QAction::triggered, this, [this] {
    m_canvas->ZoomAround(QPointF(m_canvas->width(), m_canvas->height()) / 2.0, std::sqrt(2.0));
  });
  m_zoomOut = AddAction(tr("-"), tr("Zoom out"), {Qt::Key_Minus}, false);
  connect(m_zoomOut, &QAction::triggered, this, [this] {
    m_canvas->ZoomAround(QPointF(m_canvas->width(), m_canvas->height()) / 2.0, std::sqrt(0.5));
  });
  for (QAction* action : {m_fit, m_actual, m_zoomIn, m_zoomOut}) addButton(action);
  bar->addSeparator();

  m_overlay = AddAction(tr("Mask"), tr("Tint the masked pixels red"), {Qt::Key_M}, true);
  connect(m_overlay, &QAction::toggled, m_canvas, &CViewerCanvas::SetOverlay);
  m_paint =
      AddAction(tr("Paint"), tr("Paint the mask over the damaged picture (right drag erases)"),
                {Qt::Key_P}, true);
  connect(m_paint, &QAction::toggled, m_canvas, &CViewerCanvas::SetPaintMode);
  m_eraser =
      AddAction(tr("Eraser"), tr("Erase the mask instead of painting it"), {Qt::Key_E}, true);
  connect(m_eraser, &QAction::toggled, this, [this](bool on) {
    m_canvas->SetEraser(on);
    if (on) m_canvas->SetPaintMode(true);
  });
  for (QAction* action : {m_overlay, m_paint, m_eraser}) addButton(action);

  auto* brushLabel = new QLabel(tr(" Brush "), bar);
  m_brush = new QSpinBox(bar);
  m_brush->setRange(CViewerCanvas::kMinBrush, CViewerCanvas::kMaxBrush);
  m_brush->setSuffix(tr(" px"));
  m_brush->setValue(m_canvas->BrushSize());
  m_brush->setToolTip(tr("Brush diameter in pixels ([ smaller, ] larger)"));
  connect(m_brush, &QSpinBox::valueChanged, m_canvas, &CViewerCanvas::SetBrushSize);
  // Back to the picture once a size is typed, so the keys act on it again.
  connect(m_brush, &QSpinBox::editingFinished, m_canvas, [this] { m_canvas->setFocus(); });
  bar->addWidget(brushLabel);
  bar->addWidget(m_brush);
  m_smaller = AddAction(tr("Smaller brush"), tr("Smaller brush"), {Qt::Key_BracketLeft}, false);
  connect(m_smaller, &QAction::triggered, this, [this] {
    const int size = m_canvas->BrushSize();
    m_canvas->SetBrushSize(size - std::max(1, size / 6));
  });
  m_larger = AddAction(tr("Larger brush"), tr("Larger brush"), {Qt::Key_BracketRight}, false);
  connect(m_larger, &QAction::triggered, this, [this] {
    const int size = m_canvas->BrushSize();
    m_canvas->SetBrushSize(size + std::max(1, size / 5));
  });

  m_undo = AddAction(tr("Undo"), tr("Undo the last stroke"), {QKeySequence::Undo}, false);
  connect(m_undo, &QAction::triggered, m_canvas, &CViewerCanvas::Undo);
  m_redo = AddAction(tr("Redo"), tr("Redo the stroke undone last"),
                     {Qt::CTRL | Qt::SHIFT | Qt::Key_Z, Qt::CTRL | Qt::Key_Y}, false);
  connect(m_redo, &QAction::triggered, m_canvas, &CViewerCanvas::Redo);
  m_clear =
      AddAction(tr("Clear"), tr("Unmask every pixel (can be undone)"), {Qt::Key_Delete}, false);
  connect(m_clear, &QAction::triggered, m_canvas, &CViewerCanvas::ClearMask);
  for (QAction* action : {m_undo, m_redo, m_clear}) addButton(action);
  bar->addSeparator();

  m_use = AddAction(tr("Use this mask"), tr("Use the painted mask for the next run"),
                    {Qt::CTRL | Qt::Key_Return, Qt::CTRL | Qt::Key_Enter}, false);
  connect(m_use, &QAction::triggered, this, [this] {
    if (m_host) m_host->UseMask(PaintedMask());
  });
  m_save = AddAction(tr("Save mask..."), tr("Save the painted mask as a new BMP file"),
                     {QKeySequence::Save}, false);
  connect(m_save, &QAction::triggered, this, [this] {
    if (m_host) m_host->SaveMask(PaintedMask());
  });
  for (QAction* action : {m_use, m_save}) addButton(action);

  m_close = AddAction(tr("Close"), tr("Close the viewer"), {Qt::Key_Escape}, false);
  connect(m_close, &QAction::triggered, this, &QWidget::close);

  m_status = new QLabel(this);
  m_status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  m_status->setTextFormat(Qt::PlainText);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(2);
  layout->addWidget(bar);
  layout->addWidget(m_canvas, 1);
  layout->addWidget(m_status);

  // The keys go to the picture: the buttons never take the focus.
  for (QWidget* child : findChildren<QWidget*>()) {
    if (QStyle* style = DialogStyle()) child->setStyle(style);
    if (child != m_canvas && child != m_brush && !m_brush->isAncestorOf(child))
      child->setFocusPolicy(Qt::NoFocus);
  }
  if (QStyle* style = DialogStyle()) setStyle(style);
  m_canvas->setFocus();

  const QScreen* screen = QGuiApplication::primaryScreen();
  const QSize room = screen ? screen->availableGeometry().size() * 0.85 : QSize(1000, 760);
  resize(std::min(room.width(), 1200), std::min(room.height(), 900));

  connect(m_canvas, &CViewerCanvas::StateChanged, this, &CPictureViewer::SyncControls);
  connect(m_canvas, &CViewerCanvas::StatusChanged, this, &CPictureViewer::SyncStatus);
  SyncControls();
  SyncStatus();
}

QAction* CPictureViewer::AddAction(const QString& text, const QString& tip,
                                   const QList<QKeySequence>& keys, bool checkable) {
  auto* action = new QAction(text, this);
  action->setIconText(text);  // buttons show "Save mask..." whole
  action->setShortcuts(keys);
  action->setShortcutContext(Qt::WindowShortcut);
  action->setCheckable(checkable);
  action->setToolTip(
      QStringLiteral("%1 (%2)").arg(tip, keys.value(0).toString(QKeySequence::NativeText)));
  addAction(action);
  return action;
}

void CPictureViewer::SetPicture(ViewerPicture which, const QImage& picture) {
  m_canvas->SetPicture(which, picture);
}

void CPictureViewer::SetMask(const QImage& mask) { m_canvas->SetMask(mask); }

void CPictureViewer::ShowPicture(ViewerPicture which) {
  if (m_canvas->Picture(which).isNull()) {
    SyncControls();
    return;
  }
  m_canvas->ShowPicture(which);
}

void CPictureViewer::SyncControls() {
  const bool damaged = !m_canvas->Picture(ViewerPicture::kDamaged).isNull();
  for (int i = 0; i < 3; ++i) {
    m_show[i]->setEnabled(!m_canvas->Picture(ViewerPicture(i)).isNull());
    m_show[i]->setChecked(m_canvas->Current() == ViewerPicture(i));
  }
  const bool shown = !m_canvas->Picture(m_canvas->Current()).isNull();
  for (QAction* action : {m_fit, m_actual, m_zoomIn, m_zoomOut}) action->setEnabled(shown);
  const bool hasMask = !m_canvas->Mask().IsNull();
  m_overlay->setEnabled(hasMask);
  // setChecked on these emits toggled, which sets the same state back: no loop.
  m_overlay->setChecked(m_canvas->Overlay());
  m_paint->setEnabled(damaged);
  m_paint->setChecked(m_canvas->PaintMode());
  m_eraser->setEnabled(damaged);
  m_eraser->setChecked(m_canvas->Eraser());
  m_brush->setValue(m_canvas->BrushSize());
  m_undo->setEnabled(m_canvas->Mask().CanUndo());
  m_redo->setEnabled(m_canvas->Mask().CanRedo());
  m_clear->setEnabled(damaged);
  m_use->setEnabled(damaged);
  m_save->setEnabled(damaged);
  SyncStatus();
}

QString CPictureViewer::StatusText() const {
  const QImage& picture = m_canvas->Picture(m_canvas->Current());
  QString text = tr(kPictureNames[int(m_canvas->Current())]);
  if (picture.isNull()) return text + tr(": not available");
  text += QStringLiteral(" %1 x %2    %3")
              .arg(picture.width())
              .arg(picture.height())
              .arg(ZoomText(m_canvas->Zoom()));
  QPoint pixel;
  if (m_canvas->HoverPixel(&pixel)) {
    const QRgb c = picture.pixel(pixel);
    text += QStringLiteral("    x %1  y %2    R %3  G %4  B %5")
                .arg(pixel.x())
                .arg(pixel.y())
                .arg(qRed(c))
                .arg(qGreen(c))
                .arg(qBlue(c));
    if (m_canvas->Mask().IsMasked(pixel.x(), pixel.y())) text += tr("    masked");
  }
  if (m_canvas->PaintMode())
    text += tr("    painting, brush %1 px%2")
                .arg(m_canvas->BrushSize())
                .arg(m_canvas->Eraser() ? tr(", eraser") : QString());
  return text;
}

void CPictureViewer::SyncStatus() { m_status->setText(StatusText()); }
