#include "export/output_paths.h"

#include <cstdio>
#include <ctime>
#include <system_error>

#include "common/text.h"
#include "platform/platform.h"

namespace bv {

namespace {

bool Rejected(wchar_t c) {
  if (c < 0x20 || c == 0x7f) return true;
  switch (c) {
    case L'/':
    case L'\\':
    case L':':
    case L'*':
    case L'?':
    case L'"':
    case L'<':
    case L'>':
    case L'|':
      return true;
    default:
      return false;
  }
}

bool IsDeviceName(const std::wstring& piece) {
  std::wstring stem = piece.substr(0, piece.find(L'.'));
  static const wchar_t* const kNames[] = {L"CON", L"PRN", L"AUX", L"NUL"};
  for (const wchar_t* n : kNames)
    if (EqualsNoCase(stem, n)) return true;
  if (stem.size() == 4 &&
      (EqualsNoCase(stem.substr(0, 3), L"COM") || EqualsNoCase(stem.substr(0, 3), L"LPT")))
    return stem[3] >= L'1' && stem[3] <= L'9';
  return false;
}

// Cuts `text` so that its UTF-8 form is at most `limit` bytes, on a character
// boundary.
std::wstring CutUtf8(const std::wstring& text, std::size_t limit) {
  std::size_t bytes = 0;
  std::size_t i = 0;
  for (; i < text.size(); ++i) {
    std::size_t n = WideToUtf8(std::wstring_view(&text[i], 1)).size();
    if (bytes + n > limit) break;
    bytes += n;
  }
  return text.substr(0, i);
}

constexpr std::size_t kMaxPieceBytes = 200;
constexpr std::size_t kMaxExtension = 16;

}  // namespace

std::wstring SafePathPiece(const std::wstring& name) {
  std::wstring piece;
  piece.reserve(name.size());
  for (wchar_t c : name) piece += Rejected(c) ? L'_' : c;
  if (piece.empty()) return L"_";
  if (piece.find_first_not_of(L'.') == std::wstring::npos) piece.assign(piece.size(), L'_');
  for (std::size_t i = piece.size(); i > 0 && (piece[i - 1] == L'.' || piece[i - 1] == L' '); --i)
    piece[i - 1] = L'_';
  if (IsDeviceName(piece)) piece.insert(0, 1, L'_');
  if (WideToUtf8(piece).size() > kMaxPieceBytes) {
    std::size_t dot = piece.rfind(L'.');
    std::wstring ext;
    if (dot != std::wstring::npos && dot > 0 && piece.size() - dot <= kMaxExtension)
      ext = piece.substr(dot);
    std::wstring stem = piece.substr(0, piece.size() - ext.size());
    piece = CutUtf8(stem, kMaxPieceBytes - WideToUtf8(ext).size()) + ext;
  }
  return piece;
}

fs::path MakeUniquePath(const fs::path& path) {
  std::error_code ec;
  // symlink_status: a dangling link still occupies the name.
  if (!fs::exists(fs::symlink_status(path, ec))) return path;
  const fs::path folder = path.parent_path();
  const std::wstring stem = path.stem().wstring();
  const std::wstring ext = path.extension().wstring();
  for (unsigned n = 1;; ++n) {
    fs::path candidate = folder / (stem + L"(" + std::to_wstring(n) + L")" + ext);
    if (!fs::exists(fs::symlink_status(candidate, ec))) return candidate;
  }
}

std::wstring MakeUniquePath(const std::wstring& path) {
  return platform::WideFromPath(MakeUniquePath(platform::PathFromWide(path)));
}

bool IsInside(const fs::path& root, const fs::path& path) {
  const fs::path r = root.lexically_normal();
  const fs::path p = path.lexically_normal();
  auto ri = r.begin(), pi = p.begin();
  for (; ri != r.end(); ++ri, ++pi) {
    if (ri->empty() && std::next(ri) == r.end()) return true;  // trailing separator of root
    if (pi == p.end() || *ri != *pi) return false;
  }
  for (; pi != p.end(); ++pi)
    if (*pi == "..") return false;
  return true;
}

std::wstring MakeJobStamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return Utf8ToWide(text);
}

}  // namespace bv
