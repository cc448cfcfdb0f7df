#include "ui/skin_source.h"

#include <zip.h>

#include <QDir>
#include <QFile>
#include <QMessageBox>

namespace bv::ui {

QString NormaliseSkinPath(const QString& name) {
  QString n = name;
  n.replace(QLatin1Char('\\'), QLatin1Char('/'));
  while (n.startsWith(QLatin1String("./"))) n.remove(0, 2);
  while (n.startsWith(QLatin1Char('/'))) n.remove(0, 1);
  return n;
}

bool ISkinSource::Exists(const QString& name) const {
  QByteArray dummy;
  return Read(name, &dummy);
}

QPixmap ISkinSource::Image(const QString& name) const {
  const QString key = NormaliseSkinPath(name);
  auto it = m_images.find(key);
  if (it != m_images.end()) return *it;
  QPixmap pm;
  QByteArray bytes;
  if (Read(key, &bytes)) pm.loadFromData(bytes);
  m_images.insert(key, pm);
  return pm;
}

CFolderSkinSource::CFolderSkinSource(QString folder) : m_folder(std::move(folder)) {}

bool CFolderSkinSource::Read(const QString& name, QByteArray* out) const {
  const QString rel = NormaliseSkinPath(name);
  // Names from skins never leave the skin folder.
  if (rel.isEmpty() || rel.split(QLatin1Char('/')).contains(QLatin1String(".."))) return false;
  QFile f(QDir(m_folder).filePath(rel));
  if (!f.open(QIODevice::ReadOnly)) return false;
  *out = f.readAll();
  return true;
}

std::shared_ptr<CZipSkinSource> CZipSkinSource::FromBytes(QByteArray bytes) {
  std::shared_ptr<CZipSkinSource> s(new CZipSkinSource());
  s->m_bytes = std::move(bytes);
  if (s->m_bytes.isEmpty()) return nullptr;
  zip_error_t err;
  zip_error_init(&err);
  // The buffer stays owned by us (freep = 0) and lives as long as the source.
  s->m_src = zip_source_buffer_create(s->m_bytes.constData(),
                                      static_cast<zip_uint64_t>(s->m_bytes.size()), 0, &err);
  if (!s->m_src) {
    zip_error_fini(&err);
    return nullptr;
  }
  s->m_zip = zip_open_from_source(s->m_src, ZIP_RDONLY, &err);
  zip_error_fini(&err);
  if (!s->m_zip) {
    zip_source_free(s->m_src);
    s->m_src = nullptr;
    return nullptr;
  }
  return s;
}

CZipSkinSource::~CZipSkinSource() {
  if (m_zip)
    zip_discard(m_zip);  // also frees the source
  else if (m_src)
    zip_source_free(m_src);
}

QStringList CZipSkinSource::Entries() const {
  QStringList list;
  const zip_int64_t n = zip_get_num_entries(m_zip, 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    const char* nm = zip_get_name(m_zip, static_cast<zip_uint64_t>(i), 0);
    if (nm) list << QString::fromUtf8(nm);
  }
  return list;
}

bool CZipSkinSource::Read(const QString& name, QByteArray* out) const {
  const QByteArray key = NormaliseSkinPath(name).toUtf8();
  if (key.isEmpty()) return false;
  zip_int64_t idx = zip_name_locate(m_zip, key.constData(), 0);
  if (idx < 0) idx = zip_name_locate(m_zip, key.constData(), ZIP_FL_NOCASE);
  if (idx < 0) return false;
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(m_zip, static_cast<zip_uint64_t>(idx), 0, &st) != 0 ||
      !(st.valid & ZIP_STAT_SIZE))
    return false;
  // Skins and images are small; refuse absurd sizes rather than allocate them.
  if (st.size > (64u << 20)) return false;
  zip_file_t* f = zip_fopen_index(m_zip, static_cast<zip_uint64_t>(idx), 0);
  if (!f) return false;
  QByteArray data(static_cast<qsizetype>(st.size), Qt::Uninitialized);
  zip_int64_t got = 0;
  while (got < static_cast<zip_int64_t>(st.size)) {
    const zip_int64_t r = zip_fread(f, data.data() + got, st.size - static_cast<zip_uint64_t>(got));
    if (r <= 0) break;
    got += r;
  }
  zip_fclose(f);
  if (got != static_cast<zip_int64_t>(st.size)) return false;
  *out = std::move(data);
  return true;
}

std::shared_ptr<ISkinSource> SkinSourceFromResource(const QString& type, int id) {
  QFile f(QStringLiteral(":/%1/%2").arg(type).arg(id));
  if (!f.open(QIODevice::ReadOnly)) return nullptr;
  return CZipSkinSource::FromBytes(f.readAll());
}

namespace {
void ShowResourceError(const QString& message) {
  QMessageBox::critical(nullptr, QString(), message);
}
ResourceErrorReporter g_reporter = &ShowResourceError;
}  // namespace

void SetResourceErrorReporter(ResourceErrorReporter reporter) {
  g_reporter = reporter ? reporter : &ShowResourceError;
}

void ReportLoadResourceError() {
  g_reporter(QStringLiteral("Load Resource Error"));
}

}  // namespace bv::ui
