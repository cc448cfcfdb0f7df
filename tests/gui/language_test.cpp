// The language store over real files in a temporary folder, and the shipped files.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/lang/ini_file.h"
#include "app/lang/language_store.h"
#include "app/qt_text.h"
#include "gui_test_support.h"

using namespace bv::lang;
namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class LanguageStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    root = fs::path(tmp.path().toStdString());
    WriteFile(root / "config.ini",
              "; "
              "settings\r\n[DefaultLanguage]\r\nDefault=English\r\n\r\n[Languages]\r\nEnglish="
              "English\r\nDeutsch=Deutsch (DE)\r\n"
              "Odd=a=b\r\n");
    WriteFile(root / "Languages" / "English.ini",
              "\xEF\xBB\xBF[Messages]\r\nMSG0401=Error\r\nMSG0401=Error "
              "again\r\nNoEquals\r\n[PageScan]\r\nBtnHome=Home\r\n"
              "BtnRecovery=Recover\r\nNoSuchControl=x\r\n[Messages]\r\nMSG0403=Information\r\n");
    WriteFile(root / "Languages" / "Deutsch.ini",
              "[PageScan]\nBtnHome=Start\nBtnRecovery=Wiederherstellen\n");
  }
  std::string Folder() const { return root.string(); }
  QTemporaryDir tmp;
  fs::path root;
};

TEST_F(LanguageStoreTest, LoadsListAndTableWithTheReadingRules) {
  CLanguageStore store(Folder());
  EXPECT_EQ(store.language_name(), "English");
  ASSERT_EQ(store.languages().size(), 3u);
  EXPECT_EQ(store.languages()[1], (std::pair<std::string, std::string>{"Deutsch", "Deutsch (DE)"}));
  EXPECT_EQ(store.languages()[2],
            (std::pair<std::string, std::string>{"Odd", "a=b"}));  // split at the first "="
  TextSection& msgs = store.section("Messages");
  EXPECT_EQ(CLanguageStore::text(msgs, "MSG0401"), "Error again");  // the later duplicate wins
  EXPECT_EQ(CLanguageStore::text(msgs, "MSG0403"),
            "Information");  // a repeated section adds to the first
  EXPECT_EQ(CLanguageStore::text(msgs, "NoEquals"), "");
  EXPECT_EQ(msgs.count("NoEquals"), 1u);
  // Missing keys and sections answer empty and are created.
  EXPECT_EQ(CLanguageStore::text(msgs, "MSG9999"), "");
  EXPECT_EQ(msgs.count("MSG9999"), 1u);
  EXPECT_TRUE(store.section("NoSuchSection").empty());
  // Names compare exactly.
  EXPECT_EQ(CLanguageStore::text(msgs, "msg0401"), "");
}

TEST_F(LanguageStoreTest, MissingFilesGiveEnglishAndEmptyTable) {
  fs::remove(root / "config.ini");
  fs::remove(root / "Languages" / "English.ini");
  CLanguageStore store(Folder());
  EXPECT_EQ(store.language_name(), "English");
  EXPECT_TRUE(store.languages().empty());
  EXPECT_EQ(CLanguageStore::text(store.section("Messages"), "MSG0401"), "");
}

TEST_F(LanguageStoreTest, SwitchingRewritesOnlyDefault) {
  const std::string before = ReadFile(root / "config.ini");
  CLanguageStore store(Folder());
  ASSERT_TRUE(store.set_language("Deutsch"));
  EXPECT_EQ(store.language_name(), "Deutsch");
  EXPECT_EQ(CLanguageStore::text(store.section("PageScan"), "BtnHome"), "Start");
  EXPECT_TRUE(store.section("Messages").empty());  // the table was replaced as a whole
  std::string expected = before;
  expected.replace(expected.find("Default=English"), 15, "Default=Deutsch");
  EXPECT_EQ(ReadFile(root / "config.ini"), expected);
  // A name that would leave the language folder loads nothing.
  WriteFile(root / "secret.ini", "[PageScan]\nBtnHome=leak\n");
  ASSERT_TRUE(store.set_language("../secret"));
  EXPECT_EQ(CLanguageStore::text(store.section("PageScan"), "BtnHome"), "");
}

// An install: config.ini is shared and read-only, the user's choice goes to a file of
// their own, which wins over the shipped default and leaves config.ini untouched.
TEST_F(LanguageStoreTest, InstalledStoreKeepsTheChoiceInTheUsersFile) {
  const std::string shipped = ReadFile(root / "config.ini");
  const fs::path user = root / "home" / "TarnwickBackvault" / "config.ini";
  {
    CLanguageStore store(Folder(), user.string());
    EXPECT_EQ(store.language_name(), "English");  // no user file yet: the shipped default
    EXPECT_EQ(store.SettingsPath(), user.string());
    ASSERT_TRUE(store.set_language("Deutsch"));  // its folder is created
    EXPECT_EQ(CLanguageStore::text(store.section("PageScan"), "BtnHome"), "Start");
  }
  EXPECT_EQ(ReadFile(root / "config.ini"), shipped);
  EXPECT_EQ(ReadFile(user), "[DefaultLanguage]\r\nDefault=Deutsch\r\n");
  {
    // The next start reads the user's choice; the list still comes from config.ini.
    CLanguageStore store(Folder(), user.string());
    EXPECT_EQ(store.language_name(), "Deutsch");
    EXPECT_EQ(store.languages().size(), 3u);
  }
  // An empty choice, or none in that file, falls back to the shipped default.
  WriteFile(user, "[DefaultLanguage]\nDefault=\n");
  EXPECT_EQ(CLanguageStore(Folder(), user.string()).language_name(), "English");
  WriteFile(user, "[Other]\nDefault=Deutsch\n");
  EXPECT_EQ(CLanguageStore(Folder(), user.string()).language_name(), "English");
  // A settings file that cannot be written changes nothing.
  const fs::path blocked = root / "blocker";
  WriteFile(blocked, "a file, so no folder can be made here");
  CLanguageStore store(Folder(), (blocked / "config.ini").string());
  EXPECT_FALSE(store.set_language("Deutsch"));
  EXPECT_EQ(store.language_name(), "English");
  EXPECT_EQ(ReadFile(root / "config.ini"), shipped);
}

TEST(IniFile, WritesMissingSectionAndKeyAndKeepsUtf16) {
  QTemporaryDir tmp;
  const fs::path p = fs::path(tmp.path().toStdString()) / "c.ini";
  WriteFile(p, "[Languages]\nEnglish=English\n");
  ASSERT_TRUE(WriteIniValue(p, "DefaultLanguage", "Default", "Deutsch"));
  EXPECT_EQ(ReadFile(p), "[Languages]\nEnglish=English\n\n[DefaultLanguage]\nDefault=Deutsch\n");
  ASSERT_TRUE(WriteIniValue(p, "Languages", "Deutsch", "Deutsch"));
  EXPECT_EQ(
      ReadFile(p),
      "[Languages]\nEnglish=English\nDeutsch=Deutsch\n\n[DefaultLanguage]\nDefault=Deutsch\n");
  // UTF-16 files stay UTF-16.
  const std::string u16("\xFF\xFE[\0A\0]\0\r\0\n\0k\0=\0\xE4\0\r\0\n\0", 22);
  WriteFile(p, u16);
  std::vector<IniSection> secs;
  ASSERT_TRUE(ReadIniFile(p, &secs));
  ASSERT_EQ(secs.size(), 1u);
  EXPECT_EQ(secs[0].lines[0].second, "\u00e4");
  ASSERT_TRUE(WriteIniValue(p, "A", "k", "\u00f6"));
  const std::string out = ReadFile(p);
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out.substr(0, 2), "\xFF\xFE");
  ASSERT_TRUE(ReadIniFile(p, &secs));
  EXPECT_EQ(secs[0].lines[0].second, "\u00f6");
  // Odd bytes never throw: a lone high surrogate becomes the replacement character.
  EXPECT_EQ(DecodeIniBytes(std::string("\xFF\xFE\x00\xD8", 4)), "\uFFFD");
}

TEST(MessageFormat, FillsPlaceHoldersInOrderAndNeverOverruns) {
  EXPECT_EQ(FormatMessageArgs("You select %s in %d item(s) of %s in %d item(s)",
                              {"1.00 MB", 3, "2.00 MB", 7}),
            "You select 1.00 MB in 3 item(s) of 2.00 MB in 7 item(s)");
  EXPECT_EQ(FormatMessageArgs("%d/%d done, %d ok, %d failed", {5, 9, 4, 1}),
            "5/9 done, 4 ok, 1 failed");
  EXPECT_EQ(FormatMessageArgs("%s %d%%", {"Current progress:", 42}), "Current progress: 42%");
  EXPECT_EQ(FormatMessageArgs("%s and %s and %d", {"one"}), "one and  and ");
  EXPECT_EQ(FormatMessageArgs("trailing %", {}), "trailing %");
  EXPECT_EQ(FormatMessageArgs("%x stays", {1}), "%x stays");
}

// The shipped files: every section and message the program reads is there, and the
// second language switches.
TEST(ShippedLanguageFiles, HoldEverySectionAndMessage) {
  // The data files sit beside the executables, where this test runs from as well.
  QString bin = qEnvironmentVariable("BV_BIN_DIR");
  if (bin.isEmpty()) bin = QCoreApplication::applicationDirPath();
  CLanguageStore store(bv::ToUtf8(bin));
  ASSERT_GE(store.languages().size(), 2u);
  for (const char* s :
       {"Messages", "MainWnd", "PageItunesBackup", "PageSpecifyFile", "PageScan", "DecryptionWnd",
        "MessageBox", "PreviewProcessWnd", "RecoverProcessWnd", "PrintWnd", "MenuWnd"})
    EXPECT_FALSE(store.section(s).empty()) << std::string(s, s + strlen(s));
  std::vector<std::string> ids = {"MSG0301", "MSG0302", "MSG0501", "MSG0502",
                                  "MSG0503", "MSG0504", "MSG1207"};
  for (int i = 401; i <= 405; ++i) ids.push_back("MSG0" + std::to_string(i));
  for (int i = 506; i <= 513; ++i) ids.push_back("MSG0" + std::to_string(i));
  for (int i = 901; i <= 903; ++i) ids.push_back("MSG0" + std::to_string(i));
  for (int i = 1101; i <= 1104; ++i) ids.push_back("MSG" + std::to_string(i));
  TextSection copy = store.section("Messages");
  for (const auto& id : ids)
    EXPECT_FALSE(CLanguageStore::text(copy, id).empty()) << std::string(id.begin(), id.end());
  // The formats take the values the program passes.
  const std::string m513 = FormatMessageArgs(copy["MSG0513"], {"1 MB", 2, "3 MB", 4});
  EXPECT_NE(m513.find("1 MB"), std::string::npos);
  EXPECT_NE(m513.find("4"), std::string::npos);
  const std::string m1102 = FormatMessageArgs(copy["MSG1102"], {11, 22, 33, 44});
  for (const char* n : {"11", "22", "33", "44"}) EXPECT_NE(m1102.find(n), std::string::npos);
  // The second file has the same messages.
  for (const auto& [name, display] : store.languages()) {
    std::vector<IniSection> secs;
    ASSERT_TRUE(ReadIniFile(fs::path(bin.toStdString()) / "Languages" /
                                (std::string(name.begin(), name.end()) + ".ini"),
                            &secs));
    size_t msgCount = 0;
    for (const auto& s : secs)
      if (s.name == "Messages") msgCount = s.lines.size();
    EXPECT_EQ(msgCount, copy.size()) << std::string(name.begin(), name.end());
  }
}

}  // namespace
