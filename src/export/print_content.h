#pragma once
// The content of the print page: the ticked records of one category as HTML
// fragments, put between the head and tail of the print template. Texts are
// HTML-escaped; message line breaks become <br>. Thread: the print worker,
// while the scan is paused or ended.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "catalogue/types.h"
#include "common/result_codes.h"
#include "scan/scan_session.h"
#include "scan/statistics.h"

namespace bv {

// Appends the fragments of `category` to `content` (UTF-8): every record of the
// list the scan shows, in list order, whose selection entry is ticked and, with
// `deletedOnly`, whose `deleted` is non-zero. Categories without printable
// records add nothing. Returns 0, or 2 when `cancel` was set before a record or
// message.
Result BuildPrintContent(const ScanStores& stores, const CStatisticsObj& selection,
                         Category category, bool deletedOnly, const std::atomic<bool>* cancel,
                         std::string& content);

// The print template split at its first "{|content|}"; both empty when it
// cannot be read.
struct PrintTemplate {
  std::string text;
  std::string head;
  std::string tail;
};
PrintTemplate LoadPrintTemplate(const std::filesystem::path& file);
// The template among the data files ("template/Print.html") and the page path
// ("Print/page" in the work folder).
std::filesystem::path DefaultPrintTemplate();
std::filesystem::path DefaultPrintPage();
// head + content + tail, replacing the file; its folder is created. 0 or the
// error code.
Result WritePrintPage(const PrintTemplate& parts, const std::string& content,
                      const std::filesystem::path& page);

}  // namespace bv
