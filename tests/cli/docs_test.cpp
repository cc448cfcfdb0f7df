// The command line's own help, its manual page and its bash completion: all three are
// built from the command registry, so they are checked against it.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "cli/command.h"
#include "cli/docs.h"
#include "common/version.h"
#include "platform/interrupt.h"
#include "platform/process.h"
#include "support/support.h"

namespace bv::cli {
namespace {

namespace fs = std::filesystem;

struct Ran {
  int code = -1;
  std::string out;  // standard output and standard error
};

Ran RunProgram(const std::vector<std::string>& argv) {
  platform::Process p;
  Ran r;
  if (p.Start(argv) != 0) return r;
  p.CloseInput();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!p.OutputClosed() && std::chrono::steady_clock::now() < deadline) {
    if (p.ReadAvailable(r.out) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (p.Wait(10000)) r.code = p.ExitCode();
  return r;
}

std::string Cli(const std::vector<std::string>& args, int* code = nullptr) {
  std::ostringstream out, err;
  const int rc = RunCli(args, {out, err});
  if (code) *code = rc;
  return out.str() + err.str();
}

// Runs of spaces and line breaks as one space, so wrapped text can be searched.
std::string Squeezed(const std::string& text) {
  std::string out;
  for (char c : text) {
    const bool space = c == ' ' || c == '\n' || c == '\t';
    if (space && (out.empty() || out.back() == ' ')) continue;
    out += space ? ' ' : c;
  }
  return out;
}

TEST(CliHelpTest, VersionAndExitCodes) {
  int code = -1;
  EXPECT_EQ(Cli({"--version"}, &code), std::string("backvault-cli ") + kVersion + "\n");
  EXPECT_EQ(code, kExitOk);
  const std::string help = Cli({"help"}, &code);
  EXPECT_EQ(code, kExitOk);
  for (const ExitCodeInfo& e : kExitCodes) {
    EXPECT_NE(help.find("  " + std::to_string(e.code) + " "), std::string::npos) << e.code;
    EXPECT_NE(help.find(e.meaning), std::string::npos) << e.code;
  }
  // The same list goes to standard error when no command is given.
  EXPECT_NE(Cli({}, &code).find(kExitCodes[0].meaning), std::string::npos);
  EXPECT_EQ(code, kExitUsage);
}

// The table names the codes the platform layer gives an interrupted command.
TEST(CliHelpTest, InterruptCodesAreThePlatformsOwn) {
  platform::ResetInterrupt();
  platform::RequestInterrupt(SIGINT);
  EXPECT_EQ(platform::InterruptExitCode(), kExitInterrupted);
  platform::ResetInterrupt();
  platform::RequestInterrupt(SIGTERM);
  EXPECT_EQ(platform::InterruptExitCode(), kExitTerminated);
  platform::ResetInterrupt();
  std::set<int> listed;
  for (const ExitCodeInfo& e : kExitCodes) EXPECT_TRUE(listed.insert(e.code).second) << e.code;
  for (int code : {kExitOk, kExitUsage, kExitFailed, kExitInterrupted, kExitTerminated})
    EXPECT_EQ(listed.count(code), 1u) << code;
}

TEST(CliHelpTest, CommandHelpExplainsEveryArgument) {
  for (const auto& c : AllCommands()) {
    int code = -1;
    const std::string help = Cli({"help", c->Name()}, &code);
    EXPECT_EQ(code, kExitOk);
    EXPECT_NE(help.find(c->Usage()), std::string::npos) << c->Name();
    for (const ArgumentHelp& a : c->Arguments()) {
      EXPECT_NE(help.find(a.name), std::string::npos) << c->Name() << " " << a.name;
      EXPECT_NE(help.find(a.text), std::string::npos) << c->Name() << " " << a.name;
    }
  }
}

// A new option in Usage needs its explanation, and an explanation needs its option:
// otherwise help and the manual page drift from what the command takes.
TEST(CliHelpTest, UsageAndArgumentsAgree) {
  for (const auto& c : AllCommands()) {
    const UsageParts parts = ParseUsage(c->Usage());
    EXPECT_EQ(parts.command, c->Name());
    std::vector<std::string> fromUsage = parts.positionals;
    for (const UsageOption& o : parts.options)
      fromUsage.push_back(o.metavar.empty() ? o.name : o.name + " " + o.metavar);
    std::vector<std::string> explained;
    for (const ArgumentHelp& a : c->Arguments()) {
      explained.push_back(a.name);
      EXPECT_FALSE(a.text.empty()) << c->Name() << " " << a.name;
    }
    EXPECT_EQ(explained, fromUsage) << c->Name();
  }
}

TEST(CliDocsTest, ParseUsageAndRoffEscape) {
  const UsageParts p = ParseUsage(
      "recover BACKUP --out DIR [--categories LIST] [--deleted-only] "
      "[--password-stdin | --password-file F]");
  EXPECT_EQ(p.command, "recover");
  EXPECT_EQ(p.positionals, std::vector<std::string>{"BACKUP"});
  ASSERT_EQ(p.options.size(), 5u);
  EXPECT_EQ(p.options[0].name, "--out");
  EXPECT_EQ(p.options[0].metavar, "DIR");
  EXPECT_EQ(p.options[2].name, "--deleted-only");
  EXPECT_EQ(p.options[2].metavar, "");
  EXPECT_EQ(p.options[3].metavar, "");  // a bar separates, it takes no value
  EXPECT_EQ(p.options[4].metavar, "F");

  EXPECT_EQ(RoffEscape("a-b\\c"), "a\\-b\\ec");
  // A leading dot or quote would be read as a request.
  EXPECT_EQ(RoffEscape(".hidden"), "\\&.hidden");
  EXPECT_EQ(RoffEscape("'quoted'"), "\\&'quoted'");
}

TEST(CliDocsTest, ManualPageIsCleanRoffWithEveryCommandAndExitCode) {
  test::TempDir dir;
  const fs::path page = dir / "backvault-cli.1";
  {
    std::ofstream os(page);
    WriteManPage(os, AllCommands());
  }
  // groff names every macro or escape it does not understand.
  const Ran check = RunProgram({"/usr/bin/groff", "-man", "-ww", "-z", page.string()});
  EXPECT_EQ(check.code, 0);
  EXPECT_EQ(check.out, "");

  const Ran shown = RunProgram({"/usr/bin/groff", "-man", "-Tutf8", "-P-cbou", page.string()});
  ASSERT_EQ(shown.code, 0) << shown.out;
  const std::string text = Squeezed(shown.out);
  for (const auto& c : AllCommands()) {
    EXPECT_NE(text.find("backvault-cli " + c->Usage()), std::string::npos) << c->Name();
    EXPECT_NE(text.find(Squeezed(c->Summary())), std::string::npos) << c->Name();
    for (const ArgumentHelp& a : c->Arguments())
      EXPECT_NE(text.find(a.name + " " + a.text), std::string::npos) << a.name;
  }
  const std::size_t status = text.find("EXIT STATUS");
  ASSERT_NE(status, std::string::npos);
  for (const ExitCodeInfo& e : kExitCodes)
    EXPECT_NE(text.find(std::to_string(e.code) + " " + e.meaning, status), std::string::npos)
        << e.code;
  EXPECT_NE(text.find(kVersion), std::string::npos);
}

class CompletionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    script_ = dir_ / "backvault-cli";
    std::ofstream os(script_);
    WriteBashCompletion(os, AllCommands());
  }
  // What bash offers for the last word of `words` (a line per candidate, sorted).
  std::set<std::string> Complete(const std::vector<std::string>& words) {
    std::string set = "COMP_WORDS=(";
    for (const std::string& w : words) set += "'" + w + "' ";
    set += "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))";
    const Ran r = RunProgram({"/bin/bash", "-c",
                              "source \"$1\" && cd \"$2\" && " + set +
                                  " && _backvault_cli && printf '%s\\n' \"${COMPREPLY[@]}\"",
                              "bash", script_.string(), dir_.path().string()});
    EXPECT_EQ(r.code, 0) << r.out;
    std::set<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) lines.insert(line);
    return lines;
  }
  test::TempDir dir_;
  fs::path script_;
};

TEST_F(CompletionTest, CommandsAndOptionsComeFromTheRegistry) {
  std::set<std::string> all = {"help", "--help", "--version"};
  for (const auto& c : AllCommands()) all.insert(c->Name());
  EXPECT_EQ(Complete({"backvault-cli", ""}), all);
  all.erase("--help");
  all.erase("--version");
  all.erase("help");
  EXPECT_EQ(Complete({"backvault-cli", "help", ""}), all);
  for (const auto& c : AllCommands()) {
    std::set<std::string> options;
    for (const UsageOption& o : ParseUsage(c->Usage()).options) options.insert(o.name);
    EXPECT_EQ(Complete({"backvault-cli", c->Name(), "--"}), options) << c->Name();
  }
  EXPECT_EQ(Complete({"backvault-cli", "rec"}), std::set<std::string>{"recover"});
}

TEST_F(CompletionTest, ValuesByKind) {
  fs::create_directories(dir_ / "My Backups" / "one");
  test::WriteFile(dir_ / "Manifest.db", "x");
  // A folder name with a space stays one candidate.
  EXPECT_EQ(Complete({"backvault-cli", "scan", "My"}), std::set<std::string>{"My Backups"});
  EXPECT_EQ(Complete({"backvault-cli", "recover", "My Backups", "--out", "My"}),
            std::set<std::string>{"My Backups"});
  // Files for a file; nothing for the table name that follows it, even after an option.
  EXPECT_EQ(Complete({"backvault-cli", "carve", "--columns", "3", "Man"}),
            std::set<std::string>{"Manifest.db"});
  EXPECT_EQ(Complete({"backvault-cli", "carve", "Manifest.db", "--json", "M"}),
            std::set<std::string>{});
  // Categories: the name after the last comma, keeping what came before.
  EXPECT_EQ(Complete({"backvault-cli", "scan", "x", "--categories", "notes,call"}),
            std::set<std::string>{"notes,call-history"});
  const std::vector<std::string> names = CategoryNames();
  std::set<std::string> categories(names.begin(), names.end());
  categories.insert("all");
  EXPECT_EQ(Complete({"backvault-cli", "recover", "x", "--categories", ""}), categories);
}

}  // namespace
}  // namespace bv::cli
