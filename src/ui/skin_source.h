#pragma once
// Where skin files and images come from: a folder on disk, or a ZIP archive held in
// memory (the archive embedded in the executable). Paths inside are "/"-separated;
// "\\" in a requested name is accepted and turned into "/". UI-thread only.
#include <QByteArray>
#include <QHash>
#include <QPixmap>
#include <QString>
#include <memory>

struct zip;
struct zip_source;

namespace bv::ui {

class ISkinSource {
 public:
  virtual ~ISkinSource() = default;
  // Whole file; false when it is missing or unreadable.
  virtual bool Read(const QString& name, QByteArray* out) const = 0;
  virtual bool Exists(const QString& name) const;
  // Decoded image, cached per source; a null pixmap when missing.
  QPixmap Image(const QString& name) const;

 private:
  mutable QHash<QString, QPixmap> m_images;
};

// Normalises a requested name: "\\" becomes "/", leading "/" and "./" go.
QString NormaliseSkinPath(const QString& name);

class CFolderSkinSource : public ISkinSource {
 public:
  explicit CFolderSkinSource(QString folder);
  bool Read(const QString& name, QByteArray* out) const override;

 private:
  QString m_folder;
};

// A ZIP archive in memory, read with libzip. Entries stored or deflated. Entry names
// are matched exactly first, then without regard to ASCII case (as the original file
// system of the skins did).
class CZipSkinSource : public ISkinSource {
 public:
  // Null when the bytes are not a readable ZIP archive.
  static std::shared_ptr<CZipSkinSource> FromBytes(QByteArray bytes);
  ~CZipSkinSource() override;
  bool Read(const QString& name, QByteArray* out) const override;
  QStringList Entries() const;

 private:
  CZipSkinSource() = default;
  QByteArray m_bytes;
  ::zip* m_zip = nullptr;
  ::zip_source* m_src = nullptr;
};

// The archive stored as a resource of the executable under type and identifier
// (a Qt resource ":/<type>/<id>"). Null when the resource is missing; the caller then
// reports "Load Resource Error" (see ReportLoadResourceError).
std::shared_ptr<ISkinSource> SkinSourceFromResource(const QString& type, int id);

// Shows "Load Resource Error". Tests replace the reporter so nothing blocks.
void ReportLoadResourceError();
using ResourceErrorReporter = void (*)(const QString& message);
void SetResourceErrorReporter(ResourceErrorReporter reporter);

}  // namespace bv::ui
