// backvault-cli carve FILE TABLE [--columns N] [--json] [--all] [--log F | --no-log]:
// runs the raw table pass over any SQLite file and prints its live and deleted rows
// with their page and offset, so that people can judge a recovery. For the chat tables
// it also prints the decoded chat records. Deleted rows are settled as the chat passes
// settle them (no stale copy of a live row, each deleted row once); --all keeps every
// raw hit of the carving. The file's write-ahead log is read with it: a "-wal" beside
// it, or, for a stored file of a backup folder, the log the manifest lists for it.
#include <cstdio>
#include <list>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/manifest.h"
#include "cli/command.h"
#include "common/text.h"
#include "platform/utf8.h"
#include "rawsqlite/chat_passes.h"
#include "rawsqlite/generic_rows.h"

namespace bv::cli {

namespace {

namespace fs = std::filesystem;

// The write-ahead log of `file` (UTF-8): a "-wal" beside it (a database extracted by
// hand or copied off a phone), else, when `file` is a stored file of a backup folder
// (in it, or in its two-character sub-folder), the stored file that the manifest lists
// for the same domain and path + "-wal". Empty when there is none.
std::string FindLog(const std::string& file) {
  if (std::string beside = LogBeside(file); !beside.empty()) return beside;
  const fs::path path = platform::PathFromUtf8(file);
  const std::string id = platform::Utf8FromPath(path.filename());
  const fs::path parent = path.parent_path();
  for (const fs::path& folder : {parent, parent.parent_path()}) {
    std::error_code ec;
    std::vector<ManifestEntry> entries;
    if (fs::is_regular_file(folder / "Manifest.db", ec))
      LoadManifestDb(platform::Utf8FromPath(folder / "Manifest.db"), entries);
    else if (fs::is_regular_file(folder / "Manifest.mbdb", ec))
      LoadManifestMbdb(platform::Utf8FromPath(folder / "Manifest.mbdb"), entries);
    std::string logKey;
    for (const ManifestEntry& e : entries)
      if (e.fileId == id) logKey = e.key + "-wal";
    if (logKey.empty()) continue;
    for (const ManifestEntry& e : entries) {
      if (e.key != logKey || e.fileId.size() < 2) continue;
      // Stored as the database is: beside it, or in the sub-folder of its own name.
      const fs::path stored =
          folder == parent ? folder / e.fileId : folder / e.fileId.substr(0, 2) / e.fileId;
      return platform::Utf8FromPath(stored);
    }
  }
  return {};
}

std::string ValueText(const GenericValue& v, bool json) {
  std::ostringstream out;
  switch (v.kind) {
    case GenericValue::Null:
      return json ? "null" : "NULL";
    case GenericValue::Integer:
      out << v.integer;
      return out.str();
    case GenericValue::Float:
      out << v.real;
      return out.str();
    case GenericValue::Other:
      return json ? "null" : "?";
    case GenericValue::Text: {
      // Invalid UTF-8 is shown with replacement characters.
      const std::string text = ValidUtf8(v.bytes) + (v.truncated ? "..." : "");
      return json ? "\"" + JsonEscape(text) + "\"" : "'" + text + "'";
    }
    case GenericValue::Blob: {
      std::string hex = HexLower(reinterpret_cast<const unsigned char*>(v.bytes.data()),
                                 std::min<std::size_t>(v.bytes.size(), 32));
      if (v.bytes.size() > 32 || v.truncated) hex += "...";
      return json ? "\"x'" + hex + "'\"" : "x'" + hex + "'";
    }
  }
  return {};
}

class CarveCommand : public Command {
 public:
  std::string Name() const override { return "carve"; }
  std::string Summary() const override {
    return "Show the live and deleted rows of one table of an SQLite file (raw reader)";
  }
  std::string Usage() const override {
    return "carve FILE TABLE [--columns N] [--json] [--all] [--log F | --no-log]";
  }
  std::vector<ArgumentHelp> Arguments() const override {
    return {{"FILE", "an SQLite database file; it is only read"},
            {"TABLE", "the name of the table whose rows are shown"},
            {"--columns N",
             "the table's number of columns (1 to 32767), needed to carve deleted rows of a "
             "table the reader does not know; for \"message\" and \"ZWAMESSAGE\" it replaces "
             "the built-in count"},
            {"--json", "print the rows as one JSON array"},
            {"--all",
             "list every raw hit of the carving: also deleted rows that equal a live row "
             "(stale copies) and the same deleted row found more than once"},
            {"--log F",
             "read the file with the write-ahead log F (by default: the \"-wal\" beside the "
             "file, or, for a stored file of a backup folder, the log its manifest lists)"},
            {"--no-log", "read the file alone, without its write-ahead log"}};
  }

  int Run(const std::vector<std::string>& args, Streams io) override {
    std::vector<std::string> positional;
    bool json = false;
    bool all = false;
    bool noLog = false;
    std::string log;
    std::uint32_t columns = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (args[i] == "--json") {
        json = true;
      } else if (args[i] == "--all") {
        all = true;
      } else if (args[i] == "--no-log") {
        noLog = true;
      } else if (args[i] == "--log" && i + 1 < args.size()) {
        log = args[++i];
      } else if (args[i] == "--columns" && i + 1 < args.size()) {
        const std::int32_t n = ParseInt32(args[++i].c_str());
        if (n <= 0 || n > 32767) {
          io.err << "carve: --columns needs a count from 1 to 32767\n";
          return kExitUsage;
        }
        columns = static_cast<std::uint32_t>(n);
      } else if (!args[i].empty() && args[i][0] == '-') {
        io.err << "usage: backvault-cli " << Usage() << "\n";
        return kExitUsage;
      } else {
        positional.push_back(args[i]);
      }
    }
    if (positional.size() != 2) {
      io.err << "usage: backvault-cli " << Usage() << "\n";
      return kExitUsage;
    }
    const std::string& file = positional[0];
    const std::string& table = positional[1];

    if (noLog && !log.empty()) {
      io.err << "carve: --log and --no-log exclude each other\n";
      return kExitUsage;
    }
    if (!noLog && log.empty()) log = FindLog(file);

    TablePass pass;
    RawDbFile& reader = pass.reader;
    if (std::int32_t rc = reader.open(file, log); rc != 0) {
      io.err << "carve: cannot read " << file << " as an SQLite file (code " << rc << ")\n";
      return kExitFailed;
    }
    pass.counts.otherColumns = columns;
    // A count given for a known table replaces the table's own where the table allows it.
    if (columns != 0 && table == "message") pass.counts.message_columns = columns;
    if (columns != 0 && table == "ZWAMESSAGE") pass.counts.wa_message_columns = columns;
    const std::uint32_t expected = pass.counts.expected_columns(table);
    // Chat tables: their columns as the store passes learn them, so that free space is
    // carved even when no row of the table is live.
    const bool is_wechat = table.compare(0, 5, "Chat_") == 0;
    const bool is_qq = table.compare(0, 9, "tb_c2cMsg") == 0;
    ColumnSignature chatColumns;
    if (is_wechat || is_qq)
      LearnChatColumns(pass, {table}, is_wechat ? ChatLayout::WeChat : ChatLayout::QQ, chatColumns);
    ColumnSignature rowColumns = chatColumns;
    std::list<GenericRow> rows;
    const std::int32_t rc =
        ReadGenericRows(pass, table, true, rows, is_wechat || is_qq ? &rowColumns : nullptr);

    // Chat tables: the decoded records as the store passes produce them.
    std::list<ChatMessageRecord> chat;
    if (is_wechat || is_qq) {
      ChatPassState state;
      state.signature = &chatColumns;
      const RowDecoder decoder = [&chat, &state, is_wechat](RawDbFile& r, const CellInput& c) {
        return decode_chat_message(r, c, chat, is_wechat ? ChatLayout::WeChat : ChatLayout::QQ,
                                   state);
      };
      read_table(pass, table, decoder, true, &chatColumns);
    }
    std::size_t raw = 0;
    for (const auto& row : rows) raw += row.status != 0;
    if (!all) {
      SettleDeletedRows(rows);
      ChatMap settled;
      settled[table] = std::move(chat);
      SettleDeletedMessages(settled);
      chat = std::move(settled[table]);
    }

    // A name the schema does not know, with nothing carved under it either, is a mistake
    // (a typo, the wrong file): said so, rather than an empty result.
    const bool inSchema = !reader.find_root_pages(table).empty();
    if (!inSchema && rows.empty() && chat.empty()) {
      io.err << "carve: " << file << " has no table '" << table << "'\n";
      return kExitFailed;
    }

    std::size_t live = 0, deleted = 0;
    for (const auto& row : rows) (row.status == 0 ? live : deleted)++;
    if (json) {
      io.out << "{\"file\":\"" << JsonEscape(file) << "\",\"table\":\"" << JsonEscape(table)
             << "\",\"pageSize\":" << reader.PageSize() << ",\"expectedColumns\":" << expected
             << ",\"freePages\":" << reader.free_pages.size() << ",\"result\":" << rc
             << ",\"live\":" << live << ",\"deleted\":" << deleted << ",\"rawDeleted\":" << raw
             << ",\"all\":" << (all ? "true" : "false")
             << ",\"log\":" << (log.empty() ? std::string("null") : "\"" + JsonEscape(log) + "\"")
             << ",\"logPages\":" << reader.LogPageCount() << ",\"logProblem\":"
             << (reader.LogProblem().empty() ? std::string("null")
                                             : "\"" + JsonEscape(reader.LogProblem()) + "\"")
             << ",\"rows\":[";
      bool first = true;
      for (const auto& row : rows) {
        io.out << (first ? "" : ",") << "{\"status\":\"" << (row.status ? "Deleted" : "Normal")
               << "\",\"page\":" << row.page << ",\"offset\":" << row.offset
               << ",\"rowId\":" << row.row_id << ",\"firstColumn\":" << row.first_column
               << ",\"values\":[";
        for (std::size_t i = 0; i < row.values.size(); ++i)
          io.out << (i ? "," : "") << ValueText(row.values[i], true);
        io.out << "]}";
        first = false;
      }
      io.out << "]";
      if (is_wechat || is_qq) {
        io.out << ",\"messages\":[";
        bool f = true;
        for (const auto& m : chat) {
          io.out << (f ? "" : ",") << "{\"status\":\"" << (m.status ? "Deleted" : "Normal")
                 << "\",\"time\":\"" << JsonEscape(m.time) << "\",\"isSender\":" << m.is_sender
                 << ",\"rowId\":" << m.row_id << ",\"partial\":" << (m.partial ? "true" : "false")
                 << ",\"text\":\"" << JsonEscape(m.text) << "\"}";
          f = false;
        }
        io.out << "]";
      }
      io.out << "}\n";
    } else {
      io.out << file << ": page size " << reader.PageSize() << ", " << reader.free_pages.size()
             << " free pages; table " << table << ", expected columns " << expected << "\n";
      if (!log.empty()) {
        io.out << "write-ahead log " << log << ": " << reader.LogPageCount()
               << " pages read from it";
        if (!reader.LogProblem().empty()) io.out << " (the log " << reader.LogProblem() << ")";
        io.out << "\n";
      }
      if (!inSchema)
        io.out << "(no table of this name in the schema: the rows come from freed pages)\n";
      if (expected == 0)
        io.out << "(no column count known for this table: deleted space is not carved; "
                  "give --columns N)\n";
      for (const auto& row : rows) {
        io.out << (row.status ? "Deleted" : "Normal ") << " page " << row.page << " offset "
               << row.offset;
        if (row.status == 0) io.out << " rowid " << row.row_id;
        io.out << " |";
        for (std::size_t i = 0; i < row.values.size(); ++i)
          io.out << " " << (row.first_column + static_cast<int>(i)) << "="
                 << ValueText(row.values[i], false);
        io.out << "\n";
      }
      for (const auto& m : chat)
        io.out << "message " << (m.status ? "Deleted" : "Normal ") << " " << m.time << " "
               << (m.is_sender ? "Me" : "them") << ": " << m.text
               << (m.partial ? "\xE2\x80\xA6" : "") << "\n";
      io.out << live << " live rows, " << deleted << " deleted rows";
      if (!all && raw != deleted) io.out << " (" << raw << " raw hits; --all lists them all)";
      if (is_wechat || is_qq) io.out << ", " << chat.size() << " chat messages";
      io.out << "\n";
      if (rc != 0) io.out << "(a page read failed: code " << rc << ")\n";
    }
    return kExitOk;
  }
};

}  // namespace

BV_REGISTER_COMMAND(CarveCommand)

}  // namespace bv::cli
