// One WeChat or QQ chat written as a text file: layout, senders, missing chats,
// progress and a file that cannot be created.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "records/chat_text.h"

namespace bv {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Call {
  std::int32_t percent, status;
};
std::vector<Call> g_calls;
std::int32_t g_answer = 0;
std::int32_t Record(void*, std::int32_t percent, std::int32_t status, const std::string&) {
  g_calls.push_back({percent, status});
  return g_answer;
}

class ChatText : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("bv_chattext_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    ChatMessageRecord mine;
    mine.is_sender = 1;
    mine.time = "2020-01-02 03:04:05";
    mine.text = "hi \u4f60\u597d";
    ChatMessageRecord theirs;
    theirs.time = "2020-01-02 03:05:00";
    theirs.text = "line one\nline two";
    ChatMessageRecord third = theirs;
    third.text = "three";
    third.status = 1;
    third.partial = true;  // a deleted message whose end was overwritten
    accounts["User1"]["wxid_a"] = {mine, theirs, third};
    g_calls.clear();
    g_answer = 0;
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
  AccountChats accounts;
};

// The partial deleted message ends with an ellipsis.
TEST_F(ChatText, WritesOwnerAsMeAndReceivedWithEmptySender) {
  const fs::path out = dir / "sub" / "chat.txt";
  EXPECT_EQ(WriteWeChatChatText(accounts, "User1", "wxid_a", out.string(), Record, nullptr), 0);
  EXPECT_EQ(Slurp(out),
            "\xEF\xBB\xBF"
            "2020-01-02 03:04:05 Me:\r\n    hi \xe4\xbd\xa0\xe5\xa5\xbd\r\n\r\n"
            "2020-01-02 03:05:00 :\r\n    line one\r\nline two\r\n\r\n"
            "2020-01-02 03:05:00 :\r\n    three\xE2\x80\xA6\r\n\r\n");
  ASSERT_EQ(g_calls.size(), 3u);
  EXPECT_EQ(g_calls[0].percent, 33);
  EXPECT_EQ(g_calls[2].percent, 100);
}

TEST_F(ChatText, MissingChatGivesEmptyFile) {
  const fs::path out = dir / "empty.txt";
  EXPECT_EQ(WriteQQChatText(accounts, "User1", "nobody", out.string(), Record, nullptr), 0);
  EXPECT_EQ(Slurp(out), "\xEF\xBB\xBF");
  EXPECT_EQ(WriteQQChatText(accounts, "User9", "wxid_a", out.string(), nullptr, nullptr), 0);
  EXPECT_TRUE(g_calls.empty());
}

TEST_F(ChatText, CallbackStopsAndIsToldOnceMore) {
  g_answer = 5;
  const fs::path out = dir / "stop.txt";
  EXPECT_EQ(WriteWeChatChatText(accounts, "User1", "wxid_a", out.string(), Record, nullptr), 5);
  ASSERT_EQ(g_calls.size(), 2u);  // one message, then the final report of the result
  EXPECT_EQ(g_calls[1].percent, 100);
  EXPECT_EQ(g_calls[1].status, 5);
}

TEST_F(ChatText, UncreatableFileReportsTheErrorCode) {
  fs::create_directories(dir);
  const fs::path blocker = dir / "file";
  std::ofstream(blocker) << "x";
  const fs::path out = blocker / "chat.txt";  // a folder that is a file
  const Result rc = WriteWeChatChatText(accounts, "User1", "wxid_a", out.string(), Record, nullptr);
  EXPECT_GT(rc, 0);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].percent, 100);
  EXPECT_EQ(g_calls[0].status, rc);
}

}  // namespace
}  // namespace bv
