// WeChat MM.sqlite and QQ QQ.db, several accounts each, with rows deleted the way
// the apps delete them: single messages (freeblocks), long runs (pages on the
// freelist) and whole conversations (dropped tables). Page sizes vary per account,
// and some texts spill into overflow pages.
#include <stdexcept>

#include "common/hash.h"
#include "internal.h"

namespace bv::mkbackup {

namespace {

// The Friend layout whose columns the chat-store reader decodes: user name in column
// 1, nick name in column 2, type in column 6. Only these three names are documented
// for the older MM.sqlite; the other ten columns are our reconstruction.
const char* kFriendTable =
    "CREATE TABLE Friend (\n"
    "    FriendID INTEGER PRIMARY KEY,\n"
    "    UsrName TEXT,\n"
    "    NickName TEXT,\n"
    "    Uin INTEGER DEFAULT 0,\n"
    "    Email TEXT,\n"
    "    Mobile TEXT,\n"
    "    Type INTEGER DEFAULT 0,\n"
    "    Sex INTEGER DEFAULT 0,\n"
    "    Province TEXT,\n"
    "    City TEXT,\n"
    "    Signature TEXT,\n"
    "    ImgStatus INTEGER DEFAULT 0,\n"
    "    DraftText TEXT\n"
    ");";

// tb_c2cMsg_<peer>: the eight known columns in the positions the reader decodes
// (peer 1, time 2, direction 4, text 6), widened to the 50 columns the table has.
std::string QqMessageTable(const std::string& name) {
  std::string sql = "CREATE TABLE " + name +
                    " (\n    msgId INTEGER,\n    uin INTEGER,\n    time INTEGER,\n"
                    "    type INTEGER,\n    flag INTEGER,\n    read INTEGER,\n"
                    "    content TEXT,\n    picUrl TEXT";
  for (int c = 8; c < 50; ++c) sql += ",\n    col" + std::to_string(c) + " INTEGER";
  return sql + "\n);";
}

std::vector<std::string> QqColumns(bool churn) {
  std::vector<std::string> columns = {"msgId", "uin",  "time",    "type",
                                      "flag",  "read", "content", "picUrl"};
  if (churn) columns.push_back("col8");
  return columns;
}

std::string LongText(Prng& rng, std::size_t size) {
  std::string out;
  while (out.size() < size) out += Sentence(rng, 6, 14) + ". ";
  return out;
}

std::vector<std::int64_t> Every(const std::vector<std::int64_t>& rows, std::size_t from,
                                std::size_t step) {
  std::vector<std::int64_t> out;
  for (std::size_t k = from; k < rows.size(); k += step) out.push_back(rows[k]);
  return out;
}

std::vector<std::int64_t> Slice(const std::vector<std::int64_t>& rows, std::size_t from,
                                std::size_t count) {
  std::vector<std::int64_t> out;
  for (std::size_t k = from; k < rows.size() && k < from + count; ++k) out.push_back(rows[k]);
  return out;
}

// Rows of `picked` that lie well outside the run rows[from, from + count): pages next
// to an emptied run were merged and are less full, so a further delete there could
// merge them again and rewrite the freed bytes.
std::vector<std::int64_t> AwayFrom(const std::vector<std::int64_t>& picked,
                                   const std::vector<std::int64_t>& rows, std::size_t from,
                                   std::size_t count) {
  if (rows.size() < from + count || count == 0) return picked;
  const std::size_t margin = count / 2;
  const std::int64_t lo = rows[from >= margin ? from - margin : 0];
  const std::int64_t hi = rows[std::min(rows.size() - 1, from + count + margin)];
  std::vector<std::int64_t> out;
  for (std::int64_t r : picked)
    if (r < lo || r > hi) out.push_back(r);
  return out;
}

void DropTable(Db& db, TruthDb& truth, const std::string& table, const std::string& probeColumn) {
  // Recorded as deleted rows: the table's pages go to the freelist with their content.
  std::vector<std::int64_t> all;
  for (const auto& [rowid, row] : truth.Table(table).rows) all.push_back(rowid);
  DeleteRows(db, truth, table, all, probeColumn, "table");
  db.Exec("DROP TABLE \"" + table + "\";");
  truth.droppedTables.push_back(table);
}

std::vector<int> PageSizesOr(const std::vector<int>& chosen, std::vector<int> fallback) {
  if (chosen.empty()) return fallback;
  for (int size : chosen)
    if (size < 512 || size > 65536 || (size & (size - 1)) != 0)
      throw std::runtime_error("chat store page sizes are powers of two from 512 to 65536");
  return chosen;
}

// One round of use: `fresh` new rows, then the rows added in the previous round
// updated with `grown` (values that make each row longer, so SQLite writes it anew and
// the old cell stays behind), then a few single deletions. Each round is committed on
// its own so that what it frees reaches the file.
struct Churn {
  Db& db;
  TruthDb& truth;
  std::string table;
  std::string probeColumn;
  Prng& rng;
  std::vector<std::int64_t> live;     // row ids still live
  std::vector<std::int64_t> pending;  // added in the round before

  template <class AddRow, class Grow>
  void Round(int fresh, AddRow addRow, Grow grow) {
    db.Exec("COMMIT; BEGIN;");
    std::vector<std::int64_t> added;
    for (int i = 0; i < fresh; ++i) added.push_back(addRow());
    for (std::int64_t rowid : pending) UpdateRow(db, truth, table, rowid, grow());
    db.Exec("COMMIT; BEGIN;");
    std::vector<std::int64_t> gone;
    const std::size_t deletions = 1 + live.size() / 40;
    for (std::size_t k = 0; k < deletions && !live.empty(); ++k) {
      const std::size_t at = rng.Below(live.size());
      gone.push_back(live[at]);
      live.erase(live.begin() + static_cast<std::ptrdiff_t>(at));
    }
    DeleteRows(db, truth, table, gone, probeColumn, "churn");
    live.insert(live.end(), added.begin(), added.end());
    pending = std::move(added);
  }
};

}  // namespace

void WriteWeChat(BackupContext& ctx) {
  const BackupOptions& o = ctx.options();
  if (o.wechat <= 0) return;
  Prng rng = ctx.prng().Fork(66);
  const std::string chatSection = FindSection("MM.sqlite and WCDB_Contact.sqlite").title;
  std::string chatCreate;
  for (const std::string& s : CreateStatements(FindSection(chatSection)))
    if (TableNameOf(s).rfind("Chat_", 0) == 0) chatCreate = s;
  if (chatCreate.empty()) throw std::runtime_error("no Chat_ layout in the schemas");

  const std::vector<int> pageSizes = PageSizesOr(o.wechatPageSizes, {1024, 65536});
  const int accounts = static_cast<int>(pageSizes.size());
  for (int account = 0; account < accounts; ++account) {
    const std::string own =
        "wxid_owner" + std::to_string(o.seed % 1000) + "_" + std::to_string(account);
    const std::string path = "Documents/" + Md5Hex(own) + "/DB/MM.sqlite";
    TruthDb& truth =
        ctx.BeginDatabase("MM.sqlite", "AppDomain-com.tencent.xin", path, pageSizes[account]);
    Db db(ctx.StoredPath(truth.fileId), truth.pageSize);
    db.Exec("BEGIN;");
    db.Exec(kFriendTable);
    truth.Table("Friend").section = "";
    struct Friend {
      std::string user, nick;
      int type;
    };
    const std::vector<Friend> friends = {
        {"wxid_k3j9" + std::to_string(account) + "x2", "Li Wei 李伟", 3},
        {"filehelper", "File Transfer", 1},
        {std::to_string(1800000 + account) + "@chatroom", "Hiking group", 2},
        {"gh_news" + std::to_string(account), "Daily News", 24},
        {"wxid_gone" + std::to_string(account), "Old friend", 3},
        {"", "", 0}};  // a friend row without a user name
    {
      Inserter ins(db, &truth.Table("Friend"), "Friend",
                   {"FriendID", "UsrName", "NickName", "Uin", "Type", "Signature"});
      std::int64_t id = 0;
      for (const Friend& f : friends)
        ins.Row({++id, f.user, f.nick, std::int64_t(100000 + id), std::int64_t{f.type},
                 Sentence(rng, 2, 5)});
    }
    // Messages per account, spread over the friends with a chat table.
    const int perAccount = o.wechat / accounts + (account == 0 ? o.wechat % accounts : 0);
    std::vector<std::vector<std::int64_t>> rowsOf(friends.size());
    std::int64_t when = ParseIsoDate(o.date) - 30 * 86400;
    for (std::size_t f = 0; f < friends.size(); ++f) {
      const std::string table = "Chat_" + Md5Hex(friends[f].user);
      std::string create = chatCreate;
      create.replace(create.find("Chat_"), 37, table);
      db.Exec(create);
      truth.Table(table).section = chatSection;
    }
    for (std::size_t f = 0; f + 1 < friends.size(); ++f) {
      const std::string table = "Chat_" + Md5Hex(friends[f].user);
      Inserter ins(db, &truth.Table(table), table,
                   {"TableVer", "MesLocalID", "MesSvrID", "CreateTime", "Message", "Status",
                    "ImgStatus", "Type", "Des"});
      // Friend 0 gets half of the messages so that runs of whole pages can go.
      const int count = f == 0 ? perAccount / 2 : perAccount / 8;
      for (int i = 0; i < count; ++i) {
        when += rng.Range(20, 600);
        const bool fromMe = rng.Chance(45);
        std::string text = Sentence(rng, 2, 16);
        if (friends[f].user.find("@chatroom") != std::string::npos && !fromMe)
          text = friends[0].user + ":\n" + text;
        if (i % 37 == 9) text = LongText(rng, truth.pageSize == 1024 ? 2500 : 70000);
        const std::int64_t local = i + 1;
        ins.Row({std::int64_t{1}, local, std::int64_t(rng.Next() >> 12), when, text,
                 std::int64_t{fromMe ? 2 : 4}, std::int64_t{1}, std::int64_t{1},
                 std::int64_t{fromMe ? 0 : 1}});
        rowsOf[f].push_back(local);
      }
    }
    if (o.deletedRows) {
      const std::string main = "Chat_" + Md5Hex(friends[0].user);
      const std::vector<std::int64_t>& rows = rowsOf[0];
      // The run first: the merges it causes would rewrite pages that hold freeblocks.
      if (rows.size() >= 300)
        DeleteRows(db, truth, main, Slice(rows, rows.size() / 2, 120), "Message", "page");
      DeleteRows(db, truth, main, AwayFrom(Every(rows, 2, 11), rows, rows.size() / 2, 120),
                 "Message", "row");
      DropTable(db, truth, "Chat_" + Md5Hex(friends[4].user), "Message");
      DeleteRows(db, truth, "Friend", {5}, "UsrName", "row");
    }
    if (o.deletedRows && o.chatChurn) {
      // "Clear chat history": one statement empties the table's pages at once.
      ClearTable(db, truth, "Chat_" + Md5Hex(friends[1].user), "Message", "clear");
      // Every message of a conversation deleted one by one.
      const std::string news = "Chat_" + Md5Hex(friends[3].user);
      DeleteRows(db, truth, news, rowsOf[3], "Message", "all");
      // Messages go on in two conversations: sent ones get their server id and a new
      // image status once delivered, which makes their rows grow.
      for (std::size_t f : {std::size_t{0}, std::size_t{2}}) {
        const std::string table = "Chat_" + Md5Hex(friends[f].user);
        Churn churn{db, truth, table, "Message", rng, {}, {}};
        for (std::int64_t rowid : rowsOf[f])
          if (truth.Table(table).rows.count(rowid)) churn.live.push_back(rowid);
        std::int64_t local = rowsOf[f].empty() ? 0 : rowsOf[f].back();
        Inserter ins(db, &truth.Table(table), table,
                     {"TableVer", "MesLocalID", "MesSvrID", "CreateTime", "Message", "Status",
                      "ImgStatus", "Type", "Des"});
        const int fresh = 3 + static_cast<int>(rowsOf[f].size() / 12);
        // Rows written by a later version of the app carry another TableVer, so the
        // table holds a mix (1 takes no bytes in a record, 2 takes one).
        for (int round = 0; round < 6; ++round) {
          const std::int64_t tableVer = round % 2 == 0 ? 1 : 2;
          churn.Round(
              fresh,
              [&] {
                when += rng.Range(20, 600);
                const bool fromMe = rng.Chance(45);
                return ins.Row({tableVer, ++local, std::int64_t{0}, when, Sentence(rng, 2, 16),
                                std::int64_t{fromMe ? 1 : 4}, std::int64_t{1}, std::int64_t{1},
                                std::int64_t{fromMe ? 0 : 1}});
              },
              [&]() -> std::vector<std::pair<std::string, Value>> {
                return {{"MesSvrID", std::int64_t(rng.Next() >> 12)},
                        {"Status", std::int64_t{2}},
                        {"ImgStatus", std::int64_t{2}}};
              });
        }
      }
    }
    db.Exec("COMMIT;");
    db.Close();
    ctx.FinishDatabase(truth, ParseIsoDate(o.date) - 5000);
  }
}

void WriteQQ(BackupContext& ctx) {
  const BackupOptions& o = ctx.options();
  if (o.qq <= 0) return;
  Prng rng = ctx.prng().Fork(77);
  const std::string section = FindSection("QQ.db").title;
  const std::vector<int> pageSizes = PageSizesOr(o.qqPageSizes, {4096, 1024});
  const int accounts = static_cast<int>(pageSizes.size());
  for (int account = 0; account < accounts; ++account) {
    const std::string owner = account == 0   ? std::string("10001234")
                              : account == 1 ? std::string("20005678")
                                             : std::to_string(30000000 + 1111 * account);
    const std::string path = "Documents/contents/" + owner + "/QQ.db";
    TruthDb& truth =
        ctx.BeginDatabase("QQ.db", "AppDomain-com.tencent.mqq", path, pageSizes[account]);
    Db db(ctx.StoredPath(truth.fileId), truth.pageSize);
    db.Exec("BEGIN;");
    CreateOverlay(db, truth, {"QQ.db"}, {"tb_c2cMsg_10001"});
    const std::vector<std::string> peers = {std::to_string(3300100 + account),
                                            std::to_string(45600 + account),
                                            std::to_string(7770000 + account)};
    {
      Inserter list(db, &truth.Table("tb_c2cTables"), "tb_c2cTables", {"uin"});
      for (const std::string& p : peers) list.Row({"tb_c2cMsg_" + p});
      list.Row({std::string("tb_recentC2CMsg")});
    }
    const int perAccount = o.qq / accounts + (account == 0 ? o.qq % accounts : 0);
    std::vector<std::vector<std::int64_t>> rowsOf(peers.size());
    std::int64_t when = ParseIsoDate(o.date) - 20 * 86400;
    for (std::size_t p = 0; p < peers.size(); ++p) {
      const std::string table = "tb_c2cMsg_" + peers[p];
      db.Exec(QqMessageTable(table));
      truth.Table(table).section = "";
      Inserter ins(db, &truth.Table(table), table, QqColumns(o.chatChurn));
      const int count = p == 0 ? perAccount / 2 : perAccount / 4;
      for (int i = 0; i < count; ++i) {
        when += rng.Range(30, 900);
        const bool fromMe = rng.Chance(50);
        std::string text = Sentence(rng, 2, 15);
        if (i % 29 == 8) text = LongText(rng, truth.pageSize == 1024 ? 1800 : 6000);
        // Unset columns (picUrl, and col8 when the store is churned later) stay NULL.
        std::vector<Value> row(o.chatChurn ? 9 : 8);
        row[0] = std::int64_t(i + 1);
        row[1] = std::stoll(peers[p]);
        row[2] = when;
        row[3] = std::int64_t{0};
        row[4] = std::int64_t{fromMe ? 0 : 1};
        row[5] = std::int64_t{1};
        row[6] = text;
        rowsOf[p].push_back(ins.Row(std::move(row)));
      }
    }
    if (o.deletedRows) {
      const std::string main = "tb_c2cMsg_" + peers[0];
      const std::vector<std::int64_t>& rows = rowsOf[0];
      if (rows.size() >= 200)
        DeleteRows(db, truth, main, Slice(rows, rows.size() / 2, 90), "content", "page");
      DeleteRows(db, truth, main, AwayFrom(Every(rows, 3, 13), rows, rows.size() / 2, 90),
                 "content", "row");
      DropTable(db, truth, "tb_c2cMsg_" + peers[2], "content");
      DeleteRows(db, truth, "tb_c2cTables", {3}, "uin", "row");
    }
    if (o.deletedRows && o.chatChurn) {
      ClearTable(db, truth, "tb_c2cMsg_" + peers[1], "content", "clear");
      // The main conversation goes on: messages are read later (`read` 0 to 1) and get
      // a further integer column set, which makes their rows grow.
      const std::string table = "tb_c2cMsg_" + peers[0];
      Churn churn{db, truth, table, "content", rng, {}, {}};
      for (std::int64_t rowid : rowsOf[0])
        if (truth.Table(table).rows.count(rowid)) churn.live.push_back(rowid);
      std::int64_t msgId = static_cast<std::int64_t>(rowsOf[0].size());
      Inserter ins(db, &truth.Table(table), table, QqColumns(true));
      const int fresh = 3 + static_cast<int>(rowsOf[0].size() / 12);
      for (int round = 0; round < 6; ++round) {
        churn.Round(
            fresh,
            [&] {
              when += rng.Range(30, 900);
              const bool fromMe = rng.Chance(50);
              return ins.Row({++msgId, std::stoll(peers[0]), when, std::int64_t{0},
                              std::int64_t{fromMe ? 0 : 1}, std::int64_t{0}, Sentence(rng, 2, 15),
                              Value{}, Value{}});
            },
            [&]() -> std::vector<std::pair<std::string, Value>> {
              return {{"read", std::int64_t{1}}, {"col8", when + rng.Range(1, 100000)}};
            });
      }
    }
    db.Exec("COMMIT;");
    db.Close();
    ctx.FinishDatabase(truth, ParseIsoDate(o.date) - 4000);
  }
}

}  // namespace bv::mkbackup
