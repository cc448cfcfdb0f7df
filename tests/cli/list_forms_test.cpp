// `list` over the same phone's backup with its Info.plist written in each form: text
// XML, text with character references, binary.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/command.h"
#include "support.h"

namespace bv::cli {
namespace {

namespace fs = std::filesystem;

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string ListJson(const fs::path& root, int* code) {
  std::ostringstream out, err;
  *code = RunCli({"list", "--root", root.string(), "--json"}, {out, err});
  return out.str();
}

TEST(ListFormsTest, BinaryAndTextInfoPlistListTheSameRecord) {
  test::TempDir dir;
  test::ScopedEnv tz("TZ", "America/New_York");
  using Form = mkbackup::BackupOptions::InfoPlistForm;
  const struct {
    const char* root;
    Form form;
    bool references;
  } forms[] = {
      {"xml", Form::kXml, false}, {"refs", Form::kXml, true}, {"binary", Form::kBinary, false}};
  std::string first;
  for (const auto& f : forms) {
    SCOPED_TRACE(f.root);
    mkbackup::BackupOptions o;
    o.seed = 23;
    o.iosVersion = "16.2";
    o.displayName = "Tom & Ann's \"iPhone\" \xE6\x89\x8B\xE6\x9C\xBA";
    o.date = "2023-02-03T04:05:06Z";
    o.messages = o.contacts = o.calls = o.notes = o.whatsapp = o.wechat = o.qq = 1;
    o.infoPlist = f.form;
    o.xmlReferences = f.references;
    const fs::path root = dir / f.root;
    test::BuildBackup(dir, o, std::string(f.root) + "/00008110-000A1B2C3D4E5F60");
    const std::string head = test::ReadFile(root / "00008110-000A1B2C3D4E5F60" / "Info.plist");
    EXPECT_EQ(head.rfind("bplist00", 0) == 0, f.form == Form::kBinary);
    if (f.references) {
      EXPECT_NE(head.find("Tom &amp; Ann&apos;s &#34;iPhone&#34; &#x624B;&#x673A;"),
                std::string::npos);
    }
    int code = -1;
    std::string json = ListJson(root, &code);
    ASSERT_EQ(code, 0);
    // The records differ only in their folder.
    json = Replaced(json, root.string(), "ROOT");
    EXPECT_NE(json.find("\"displayName\": \"Tom & Ann's \\\"iPhone\\\" \xE6\x89\x8B\xE6\x9C\xBA\""),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"lastBackupDate\": \"2023-02-02 23:05:06\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"newerSystem\": true"), std::string::npos) << json;
    if (first.empty())
      first = json;
    else
      EXPECT_EQ(json, first);
  }
}

}  // namespace
}  // namespace bv::cli
