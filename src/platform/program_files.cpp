#include "platform/program_files.h"

#include <system_error>

#include "platform/platform.h"

// The build passes the install layout; a build without it (a lone compile of this file)
// falls back to the usual GNU layout.
#ifndef BV_REL_HELPER_DIR
#define BV_REL_HELPER_DIR "../libexec/backvault"
#endif
#ifndef BV_REL_DATA_DIR
#define BV_REL_DATA_DIR "../share/backvault"
#endif

namespace bv::platform {

namespace {

fs::path Relative(const fs::path& exeFolder, const fs::path& rel) {
  if (rel.is_absolute()) return rel;
  return (exeFolder / rel).lexically_normal();
}

bool IsFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

bool HoldsData(const fs::path& folder) {
  std::error_code ec;
  return fs::is_regular_file(folder / "config.ini", ec) ||
         fs::is_directory(folder / "Languages", ec) || fs::is_directory(folder / "template", ec);
}

}  // namespace

fs::path InstalledHelperFolder() {
  return fs::path(std::u8string_view(reinterpret_cast<const char8_t*>(BV_REL_HELPER_DIR)));
}

fs::path InstalledDataFolder() {
  return fs::path(std::u8string_view(reinterpret_cast<const char8_t*>(BV_REL_DATA_DIR)));
}

fs::path HelperProgramFor(const fs::path& exeFolder, std::string_view name) {
  const fs::path file(
      std::u8string_view(reinterpret_cast<const char8_t*>(name.data()), name.size()));
  const fs::path beside = exeFolder / file;
  if (IsFile(beside)) return beside;
  const fs::path installed = Relative(exeFolder, InstalledHelperFolder()) / file;
  if (IsFile(installed)) return installed;
  return beside;
}

fs::path DataFolderFor(const fs::path& exeFolder) {
  if (HoldsData(exeFolder)) return exeFolder;
  const fs::path installed = Relative(exeFolder, InstalledDataFolder());
  std::error_code ec;
  if (fs::is_directory(installed, ec)) return installed;
  return exeFolder;
}

fs::path HelperProgram(std::string_view name) {
  return HelperProgramFor(ExecutableFolder(), name);
}

fs::path DataFolder() {
  return DataFolderFor(ExecutableFolder());
}

}  // namespace bv::platform
