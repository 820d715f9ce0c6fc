#include "window_fixture.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTest>

#include <cstdio>
#include <cstring>

#include <QWindow>

#include "engine/planes.h"

ModalScript::ModalScript() {
  ModalHooks().fileDialog = [this](QFileDialog& dialog) -> std::optional<QString> {
    QStringList shown;
    if (const auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
      for (int i = 0; i < types->count(); ++i) shown << types->itemText(i);
    fileAsks.push_back({dialog.acceptMode() == QFileDialog::AcceptOpen, dialog.nameFilters(),
                        dialog.options(), dialog.fileMode(), shown});
    if (m_answers.empty()) {
      ++unanswered;
      return std::nullopt;
    }
    const bool chosen = m_answers.front().has_value();
    const QString path = chosen ? *m_answers.front() : QString();
    m_answers.pop_front();
    return chosen ? std::optional<QString>(path) : std::nullopt;
  };
  ModalHooks().messageBox = [this](QMessageBox& box) {
    const auto buttons = box.buttons();
    boxes.push_back({box.text(), box.windowTitle(), box.icon() == QMessageBox::NoIcon,
                     buttons.size() == 1 && box.standardButton(buttons.first()) == QMessageBox::Ok,
                     box.parentWidget()});
    if (buttons.size() < 2) return int(QMessageBox::Ok);
    bool yes = false;
    if (!questionAnswers.empty()) {
      yes = questionAnswers.front();
      questionAnswers.pop_front();
    }
    return int(yes ? QMessageBox::Yes : QMessageBox::No);
  };
  ModalHooks().modal = [this](CDialog& dialog) {
    ++modalRuns;
    return onModal ? onModal(dialog) : int(IDCANCEL);
  };
}

ModalScript::~ModalScript() { ModalHooks() = DialogHooks(); }

namespace {
void Put16(QByteArray& b, quint16 v) {
  b.append(char(v & 0xFF));
  b.append(char(v >> 8));
}
void Put32(QByteArray& b, quint32 v) {
  for (int i = 0; i < 4; ++i) b.append(char((v >> (8 * i)) & 0xFF));
}
}  // namespace

void WriteBmp(const QString& path, int width, int height,
              const std::function<QRgb(int x, int y)>& colour) {
  const int stride = (width * 3 + 3) / 4 * 4;
  QByteArray b;
  b.append("BM");
  Put32(b, quint32(54 + stride * height));
  Put32(b, 0);
  Put32(b, 54);
  Put32(b, 40);
  Put32(b, quint32(width));
  Put32(b, quint32(height));
  Put16(b, 1);
  Put16(b, 24);
  Put32(b, 0);
  Put32(b, quint32(stride * height));
  Put32(b, 2835);
  Put32(b, 2835);
  Put32(b, 0);
  Put32(b, 0);
  for (int y = height - 1; y >= 0; --y) {
    QByteArray row(stride, '\0');
    for (int x = 0; x < width; ++x) {
      const QRgb c = colour(x, y);
      row[3 * x] = char(qBlue(c));
      row[3 * x + 1] = char(qGreen(c));
      row[3 * x + 2] = char(qRed(c));
    }
    b.append(row);
  }
  QFile file(path);
  QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
  file.write(b);
}

QString SampleFile(const char* name) {
  return QStringLiteral(RUVANTA_SOURCE_DIR "/data/") + QString::fromLatin1(name);
}

QString CliProgram() { return QStringLiteral(RUVANTA_CLI); }

CliResult RunCli(const QStringList& args) {
  CliResult r;
  QProcess process;
  process.start(CliProgram(), args);
  if (!process.waitForFinished(240000)) return r;
  r.exitCode = process.exitCode();
  r.errors = QString::fromLocal8Bit(process.readAllStandardError());
  const QStringList lines = QString::fromLocal8Bit(process.readAllStandardOutput()).split('\n');
  for (const QString& line : lines) {
    const int colon = line.indexOf(QLatin1String(": "));
    if (colon < 0) continue;
    const QString key = line.left(colon), value = line.mid(colon + 2).trimmed();
    if (key == QLatin1String("mask pixels")) r.maskPixels = value;
    if (key == QLatin1String("psnr damaged")) r.psnrDamaged = value;
    if (key == QLatin1String("psnr result")) r.psnrResult = value;
    if (key == QLatin1String("iterations")) r.iterations = value;
  }
  return r;
}

QString Exact(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g", double(value));
  return QString::fromLatin1(text);
}

QPoint CentreOf(const CMainDlg& dlg, int id) {
  const QWidget* w = dlg.GetDlgItem(id);
  return w ? w->mapTo(&dlg, w->rect().center()) : QPoint(-1, -1);
}

void ClickOnly(CMainDlg& dlg, int id) {
  auto* button = qobject_cast<QAbstractButton*>(dlg.GetDlgItem(id));
  QVERIFY2(button, qPrintable(QStringLiteral("no button %1").arg(id)));
  QVERIFY2(button->isEnabled(), qPrintable(QStringLiteral("button %1 disabled").arg(id)));
  if (!dlg.isVisible()) {
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
  }
  QWindow* window = dlg.windowHandle();
  QVERIFY(window);
  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, CentreOf(dlg, id));
}

void Click(CMainDlg& dlg, int id) {
  ClickOnly(dlg, id);
  dlg.WaitForRun();
}

bool Enabled(const CMainDlg& dlg, int id) {
  const QWidget* w = dlg.GetDlgItem(id);
  return w && w->isEnabled();
}

QString EditText(const CMainDlg& dlg, int id) {
  const auto* edit = qobject_cast<const QLineEdit*>(dlg.GetDlgItem(id));
  return edit ? edit->text() : QStringLiteral("<no edit %1>").arg(id);
}

void SetEditText(CMainDlg& dlg, int id, const QString& text) {
  auto* edit = qobject_cast<QLineEdit*>(dlg.GetDlgItem(id));
  QVERIFY2(edit, qPrintable(QStringLiteral("no edit %1").arg(id)));
  edit->setText(text);
}

WindowState Snapshot(const CMainDlg& dlg) {
  WindowState s;
  for (const FieldDef& def : kFields) s.edits << EditText(dlg, def.id);
  s.fields = {double(dlg.Fields().m_nTransportIter), double(dlg.Fields().m_nDiffusionIter),
              double(dlg.Fields().m_nTransportPerDiffusion), double(dlg.Fields().m_fDeltaT),
              double(dlg.Fields().m_fPsnrDamaged), double(dlg.Fields().m_fPsnrResult), double(dlg.Fields().m_fSeconds),
              double(dlg.Fields().m_fThreshold), double(dlg.Fields().m_nTotalIter), double(dlg.Fields().m_nMaskPixels)};
  for (const ImageSurface* surface :
       {&dlg.Files().m_surfOriginal, &dlg.Files().m_surfDamaged, &dlg.Files().m_surfResult, &dlg.Files().m_surfMask})
    s.surfaces.push_back({surface->bLoaded, surface->nWidth, surface->nHeight,
                          CMainDlg::SurfaceImage(*surface)});
  s.maskCount = dlg.Engine().m_nMaskCount;
  // The work plane and the mask over the damaged image's extent.
  double sum = 0;
  for (int x = 0; x < dlg.Engine().Width(); ++x)
    for (int y = 0; y < dlg.Engine().Height(); ++y)
      sum += (dlg.Engine().g_work[x][y][0] * 3 + dlg.Engine().g_work[x][y][1] * 5 +
              dlg.Engine().g_work[x][y][2] * 7) * (x + 1) +
             (dlg.Engine().HasMask() ? dlg.Engine().g_mask[x][y] * 11.0 * (y + 1) : 0.0);
  s.fields.push_back(sum);
  return s;
}

void LoadSamples(CMainDlg& dlg, ModalScript& script) {
  script.Answer(SampleFile("original.bmp"));
  script.Answer(SampleFile("damaged.bmp"));
  script.Answer(SampleFile("mask.bmp"));
  Click(dlg, IDC_BTN_LOAD_ORIGINAL);
  Click(dlg, IDC_BTN_LOAD_DAMAGED);
  Click(dlg, IDC_BTN_LOAD_MASK);
}
