#include "app/recovery_settings.h"

#include <filesystem>
#include <optional>
#include <vector>

#include "app/lang/ini_file.h"
#include "export/recovery_job.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace bv {

namespace {

constexpr const char* kSection = "Recovery";
constexpr const char* kHeicJpeg = "HeicJpeg";

std::optional<bool> ReadFlag(const std::string& file, const char* key) {
  std::vector<lang::IniSection> sections;
  if (file.empty() || !lang::ReadIniFile(platform::PathFromUtf8(file), &sections))
    return std::nullopt;
  std::optional<bool> value;
  for (const lang::IniSection& s : sections) {
    if (s.name != kSection) continue;
    // The last line of a key counts, as for the language choice.
    for (const auto& [k, v] : s.lines)
      if (k == key) value = v == "1" || v == "true" || v == "yes";
  }
  return value;
}

}  // namespace

RecoverySettings ReadRecoverySettings(const lang::CLanguageStore& store) {
  RecoverySettings settings;
  std::optional<bool> heicJpeg = ReadFlag(store.SettingsPath(), kHeicJpeg);
  if (!heicJpeg && store.SettingsPath() != store.ConfigPath())
    heicJpeg = ReadFlag(store.ConfigPath(), kHeicJpeg);
  settings.heicJpeg = heicJpeg.value_or(false);
  return settings;
}

bool WriteRecoverySettings(const lang::CLanguageStore& store, const RecoverySettings& settings) {
  const std::filesystem::path file = platform::PathFromUtf8(store.SettingsPath());
  std::error_code ec;
  if (store.SettingsPath() != store.ConfigPath())
    std::filesystem::create_directories(file.parent_path(), ec);
  return lang::WriteIniValue(file, kSection, kHeicJpeg, settings.heicJpeg ? "1" : "0");
}

void ApplyRecoverySettings(const RecoverySettings& settings, CRecoverJob& job) {
  job.SetHeicJpeg(settings.heicJpeg);
}

}  // namespace bv
