// Every input the fuzz target ever found troublesome (kept in its seed corpus) runs
// through both store passes and a generic carve again, in bounded time.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <list>

#include "rawsqlite/chat_passes.h"
#include "rawsqlite/generic_rows.h"

namespace bv {
namespace {

namespace fs = std::filesystem;

TEST(FuzzFindings, CorpusReplaysQuickly) {
  const char* source = std::getenv("BV_SOURCE_DIR");
  const fs::path corpus = fs::path(source ? source : ".") / "fuzz/corpus/rawsqlite";
  ASSERT_TRUE(fs::is_directory(corpus)) << corpus;
  int files = 0;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    const std::string path = entry.path().string();
    const auto start = std::chrono::steady_clock::now();
    ChatMap wechat, qq;
    WeChatPass(path, wechat);
    QQPass(path, qq);
    TablePass pass;
    if (pass.reader.open(path) == 0) {
      std::list<GenericRow> rows;
      ReadGenericRows(pass, "message", true, rows);
    }
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Generous for loaded machines and sanitizer builds; a hang takes far longer.
    EXPECT_LT(seconds, 20.0) << path;
    ++files;
  }
  EXPECT_GE(files, 3);
}

}  // namespace
}  // namespace bv
