#include "ui/recovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QUuid>
#include <algorithm>
#include <cstring>

#include "imaging/atomic_file.h"
#include "imaging/png_codec.h"

namespace {
constexpr const char* kRecordName = "unsaved-result.json";
// The values file: this mark, the number of masked pixels (32 bits), then three
// doubles a pixel, all in the machine's own byte order (the cache is the
// machine's own).
constexpr char kValuesMark[8] = {'R', 'U', 'V', 'V', 'A', 'L', '1', '\n'};
constexpr std::size_t kValuesHeader = sizeof(kValuesMark) + sizeof(std::uint32_t);

QString Unique(const char* stem, const char* ext) {
  return QString::fromLatin1(stem) + QStringLiteral("-") +
         QUuid::createUuid().toString(QUuid::Id128).left(12) + QString::fromLatin1(ext);
}

bool WriteFile(const QString& path, const std::vector<std::pair<const void*, std::size_t>>& parts,
               QString* error) {
  const SaveResult r =
      WriteWholeFile(QFile::encodeName(path).toStdString(), parts, Existing::kReplace);
  if (!r.ok && error) *error = QString::fromStdString(r.reason);
  return r.ok;
}

QByteArray ReadWhole(const QString& path, qint64 most) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly) || f.size() > most) return QByteArray();
  return f.readAll();
}

bool IsPlainName(const QString& name) {
  return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.startsWith(QLatin1Char('.'));
}
}  // namespace

QString CRecoveryStore::DefaultFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
         QStringLiteral("/recovery");
}

CRecoveryStore::CRecoveryStore(QString folder)
    : m_folder(folder.isEmpty() ? DefaultFolder() : std::move(folder)) {}

bool CRecoveryStore::Keep(RecoveryRecord record, const RgbImage* mask,
                          const std::vector<double>& values, QString* error) {
  if (!QDir().mkpath(m_folder)) {
    if (error) *error = QStringLiteral("cannot create the folder ") + m_folder;
    return false;
  }
  if (values.size() != std::size_t(record.maskPixels) * 3) {
    if (error) *error = QStringLiteral("the values do not match the mask");
    return false;
  }
  QString maskFile = m_maskFile;
  if (mask) {
    std::vector<std::uint8_t> png;
    std::string why;
    if (!EncodePng(*mask, &png, &why)) {
      if (error) *error = QString::fromStdString(why);
      return false;
    }
    maskFile = Unique("mask", ".png");
    if (!WriteFile(Path(maskFile), {{png.data(), png.size()}}, error)) return false;
  }
  if (maskFile.isEmpty()) {
    if (error) *error = QStringLiteral("no mask was kept");
    return false;
  }
  const QString valuesFile = Unique("values", ".bin");
  const std::uint32_t count = std::uint32_t(record.maskPixels);
  if (!WriteFile(Path(valuesFile),
                 {{kValuesMark, sizeof(kValuesMark)},
                  {&count, sizeof(count)},
                  {values.data(), values.size() * sizeof(double)}},
                 error))
    return false;

  record.maskFile = maskFile;
  record.valuesFile = valuesFile;
  QJsonObject o;
  o[QStringLiteral("damaged")] = record.damagedPath;
  o[QStringLiteral("damagedBytes")] = double(record.damagedBytes);
  o[QStringLiteral("width")] = record.width;
  o[QStringLiteral("height")] = record.height;
  o[QStringLiteral("original")] = record.originalPath;
  o[QStringLiteral("time")] = record.time.toString(Qt::ISODateWithMs);
  o[QStringLiteral("holds")] = QStringLiteral(
      "the restored values of the masked pixels after the last run, and the mask");
  o[QStringLiteral("maskPixels")] = record.maskPixels;
  o[QStringLiteral("psnrDamaged")] = double(record.psnrDamaged);
  o[QStringLiteral("psnrResult")] = double(record.psnrResult);
  o[QStringLiteral("seconds")] = double(record.seconds);
  o[QStringLiteral("totalIterations")] = double(record.totalIter);
  o[QStringLiteral("mask")] = maskFile;
  o[QStringLiteral("values")] = valuesFile;
  const QByteArray json = QJsonDocument(o).toJson();
  if (!WriteFile(Path(QString::fromLatin1(kRecordName)), {{json.constData(), std::size_t(json.size())}},
                 error))
    return false;
  m_maskFile = maskFile;
  RemoveAllBut({QString::fromLatin1(kRecordName), maskFile, valuesFile});
  return true;
}

std::optional<RecoveryRecord> CRecoveryStore::Pending(QString* problem) {
  const QString path = Path(QString::fromLatin1(kRecordName));
  if (!QFileInfo::exists(path)) {
    // Files a kill left before their record was written are of no use.
    RemoveAllBut({});
    return std::nullopt;
  }
  QJsonParseError parse{};
  const QJsonObject o = QJsonDocument::fromJson(ReadWhole(path, 1 << 20), &parse).object();
  RecoveryRecord r;
  r.damagedPath = o.value(QStringLiteral("damaged")).toString();
  r.damagedBytes = qint64(o.value(QStringLiteral("damagedBytes")).toDouble(-1));
  r.width = o.value(QStringLiteral("width")).toInt();
  r.height = o.value(QStringLiteral("height")).toInt();
  r.originalPath = o.value(QStringLiteral("original")).toString();
  r.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
  r.maskPixels = o.value(QStringLiteral("maskPixels")).toInt(-1);
  r.psnrDamaged = float(o.value(QStringLiteral("psnrDamaged")).toDouble());
  r.psnrResult = float(o.value(QStringLiteral("psnrResult")).toDouble());
  r.seconds = float(o.value(QStringLiteral("seconds")).toDouble());
  r.totalIter = std::uint32_t(o.value(QStringLiteral("totalIterations")).toDouble());
  r.maskFile = o.value(QStringLiteral("mask")).toString();
  r.valuesFile = o.value(QStringLiteral("values")).toString();
  if (parse.error != QJsonParseError::NoError || r.damagedPath.isEmpty() || r.width <= 0 ||
      r.height <= 0 || r.maskPixels < 0 || !r.time.isValid() || !IsPlainName(r.maskFile) ||
      !IsPlainName(r.valuesFile)) {
    if (problem)
      *problem = QStringLiteral("The record of an unsaved result (%1) cannot be read; it is removed.")
                     .arg(path);
    Remove();
    return std::nullopt;
  }
  m_maskFile = r.maskFile;
  return r;
}

QString CRecoveryStore::Stale(const RecoveryRecord& record) {
  const QFileInfo info(record.damagedPath);
  if (!info.exists()) return record.damagedPath + QStringLiteral(" is gone");
  if (info.size() != record.damagedBytes)
    return record.damagedPath + QStringLiteral(" has changed: it was %1 bytes and is now %2")
                                    .arg(record.damagedBytes)
                                    .arg(info.size());
  return QString();
}

bool CRecoveryStore::Read(const RecoveryRecord& record, RecoveryData* data, QString* error) const {
  const auto fail = [error](const QString& why) {
    if (error) *error = why;
    return false;
  };
  const std::uint64_t pixels = std::uint64_t(record.width) * std::uint64_t(record.height);
  if (std::uint64_t(record.maskPixels) > pixels)
    return fail(QStringLiteral("the record names more masked pixels than the picture has"));
  const qint64 expected = qint64(kValuesHeader) + qint64(record.maskPixels) * 3 * 8;
  const QByteArray values = ReadWhole(Path(record.valuesFile), expected);
  if (values.size() != expected || std::memcmp(values.constData(), kValuesMark, 8) != 0)
    return fail(QStringLiteral("the values file %1 is missing or cut short").arg(record.valuesFile));
  std::uint32_t count = 0;
  std::memcpy(&count, values.constData() + 8, sizeof(count));
  if (count != std::uint32_t(record.maskPixels))
    return fail(QStringLiteral("the values file %1 holds %2 pixels, not %3")
                    .arg(record.valuesFile)
                    .arg(count)
                    .arg(record.maskPixels));
  data->values.resize(std::size_t(count) * 3);
  std::memcpy(data->values.data(), values.constData() + kValuesHeader,
              data->values.size() * sizeof(double));

  const QByteArray png = ReadWhole(Path(record.maskFile), qint64(1) << 32);
  ImageLimits limits;
  limits.maxSide = std::max(record.width, record.height);
  limits.maxPixels = pixels;
  ImageReadResult mask =
      DecodePng(reinterpret_cast<const std::uint8_t*>(png.constData()), std::size_t(png.size()), limits);
  if (!mask.ok())
    return fail(QStringLiteral("the mask file %1 cannot be read: %2")
                    .arg(record.maskFile, QString::fromStdString(mask.reason)));
  if (mask.image.width != record.width || mask.image.height != record.height)
    return fail(QStringLiteral("the mask file %1 is %2 x %3, not %4 x %5")
                    .arg(record.maskFile)
                    .arg(mask.image.width)
                    .arg(mask.image.height)
                    .arg(record.width)
                    .arg(record.height));
  data->mask = std::move(mask.image);
  return true;
}

void CRecoveryStore::Remove() {
  RemoveAllBut({});
  m_maskFile.clear();
}

void CRecoveryStore::RemoveAllBut(const QStringList& keep) {
  QDir dir(m_folder);
  if (!dir.exists()) return;
  // The record goes first: without it the rest is never offered.
  if (!keep.contains(QString::fromLatin1(kRecordName)))
    dir.remove(QString::fromLatin1(kRecordName));
  for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot))
    if (!keep.contains(name)) dir.remove(name);
}

QString RecoveryQuestion(const RecoveryRecord& record) {
  const QDateTime local = record.time.toLocalTime();
  QString when = local.toString(QStringLiteral("HH:mm"));
  if (local.date() != QDate::currentDate())
    when = local.toString(QStringLiteral("yyyy-MM-dd ")) + when;
  return QStringLiteral("Recover the unsaved result of %1 from %2?")
      .arg(QFileInfo(record.damagedPath).fileName(), when);
}
