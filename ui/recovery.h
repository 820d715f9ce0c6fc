// What the window keeps so that a crash, a kill or a power cut does not lose an
// unsaved result: after each run, the restored values of the masked pixels
// (doubles, exactly as the engine holds them, in mask-list order) and the mask as
// a PNG, in a folder of the user's cache. A small record beside them, written
// last, names the damaged file (its path and byte size), the time of the run,
// the figures after it and the two files; it is the one that counts, so a kill
// between the files leaves the previous state whole. Every file is written whole
// or not at all (imaging/atomic_file.h). The damaged image itself is read again
// from its file: a result is offered back only while that file is unchanged.
#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "imaging/rgb_image.h"

struct RecoveryRecord {
  QString damagedPath;  // absolute
  qint64 damagedBytes = 0;
  int width = 0, height = 0;
  QString originalPath;  // the original loaded with it, if any
  QDateTime time;        // when the run ended
  int maskPixels = 0;
  float psnrDamaged = 0, psnrResult = 0, seconds = 0;
  std::uint32_t totalIter = 0;
  QString maskFile, valuesFile;  // names inside the folder
};

// The recovered pixels and mask, as read back.
struct RecoveryData {
  RgbImage mask;
  std::vector<double> values;  // three per masked pixel
};

class CRecoveryStore {
 public:
  // The folder under QStandardPaths::CacheLocation.
  static QString DefaultFolder();
  explicit CRecoveryStore(QString folder = QString());

  const QString& Folder() const { return m_folder; }

  // Keeps a result: a new mask file when `mask` is given (else the one kept
  // last, which must exist), a new values file, then the record. The files the
  // new record does not name are removed after it is in place.
  bool Keep(RecoveryRecord record, const RgbImage* mask, const std::vector<double>& values,
            QString* error);
  // Whether a mask has been kept under the current record.
  bool HasMask() const { return !m_maskFile.isEmpty(); }

  // The record left by an earlier start, if one is there (nothing when none is).
  // A record that cannot be read is reported in `problem` and removed.
  std::optional<RecoveryRecord> Pending(QString* problem);
  // Why the record's damaged file can no longer give its result back (gone, or
  // another size), or empty when it can.
  static QString Stale(const RecoveryRecord& record);
  // The mask and the values of a record; false and why when they do not match it.
  bool Read(const RecoveryRecord& record, RecoveryData* data, QString* error) const;
  // Removes the record and its files.
  void Remove();

 private:
  QString Path(const QString& name) const { return m_folder + QStringLiteral("/") + name; }
  void RemoveAllBut(const QStringList& keep);

  QString m_folder;
  QString m_maskFile;  // kept under the record now in place
};

// "Recover the unsaved result of photo.png from 10:42?"
QString RecoveryQuestion(const RecoveryRecord& record);
