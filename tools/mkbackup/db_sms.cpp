// sms.db: handles (numbers and e-mail addresses), one-to-one and group chats,
// messages with and without text or chat, attachments stored under MediaDomain.
#include <cstdio>

#include "internal.h"

namespace bv::mkbackup {

namespace {

struct SmsVersion {
  int fromMajor;
  const char* section;
};
const SmsVersion kSmsSections[] = {{0, "sms.db | iOS 6.1.6"}, {9, "sms.db | iOS 9.2.1"},
                                   {10, "sms.db | iOS 10.2"}, {11, "sms.db | iOS 11.2"},
                                   {12, "sms.db | iOS 12.4"}, {14, "sms.db | iOS 14.x"}};

}  // namespace

void WriteSmsDb(BackupContext& ctx) {
  const BackupOptions& o = ctx.options();
  const Version v = ctx.version();
  const bool nanos = v.major >= 11;
  Prng rng = ctx.prng().Fork(11);
  TruthDb& truth = ctx.BeginDatabase("sms.db", "HomeDomain", "Library/SMS/sms.db",
                                     RecordPageSize(ctx.options()));
  Db db(ctx.StoredPath(truth.fileId), truth.pageSize);
  db.Exec("BEGIN;");
  std::vector<std::string> sections;
  for (const SmsVersion& s : kSmsSections)
    if (v.major >= s.fromMajor) sections.push_back(s.section);
  CreateOverlay(db, truth, sections);

  const std::vector<Person> people = MakePeople(o.seed, o.contacts);
  // Handles: the first number of people with phones, some e-mail addresses, and
  // numbers that are in no address book (short codes, strangers).
  std::vector<std::string> handleIds;
  std::vector<std::string> services;
  for (const Person& p : people) {
    if (handleIds.size() >= 40) break;
    if (!p.phones.empty()) {
      handleIds.push_back(p.phones[0]);
      services.push_back(handleIds.size() % 3 == 0 ? "SMS" : "iMessage");
    }
    if (!p.emails.empty() && handleIds.size() % 4 == 1) {
      handleIds.push_back(p.emails[0]);
      services.push_back("iMessage");
    }
  }
  handleIds.push_back("+15559990001");
  services.push_back("SMS");
  handleIds.push_back("22395");  // short code
  services.push_back("SMS");
  handleIds.push_back("stranger@example.net");
  services.push_back("iMessage");
  // The same number once more for the other service: several handles per number.
  handleIds.push_back(handleIds[0]);
  services.push_back(services[0] == "SMS" ? "iMessage" : "SMS");

  {
    Inserter ins(db, &truth.Table("handle"), "handle",
                 {"ROWID", "id", "country", "service", "uncanonicalized_id"});
    for (std::size_t i = 0; i < handleIds.size(); ++i) {
      const std::string& id = handleIds[i];
      ins.Row({std::int64_t(i + 1), id, std::string("us"), services[i],
               id.find('@') == std::string::npos ? Value{id} : Value{}});
    }
  }
  const std::int64_t handleCount = static_cast<std::int64_t>(handleIds.size());

  // Chats: one per handle, plus group chats of three and four members, one with a display
  // name; handle 1 also sits in two groups, so one handle has several chats.
  struct Chat {
    std::vector<std::int64_t> handles;
  };
  std::vector<Chat> chats;
  {
    Inserter ins(db, &truth.Table("chat"), "chat",
                 {"ROWID", "guid", "style", "state", "account_id", "chat_identifier",
                  "service_name", "room_name", "account_login", "is_archived", "display_name"});
    for (std::int64_t h = 1; h <= handleCount; ++h) {
      const std::string& id = handleIds[static_cast<std::size_t>(h - 1)];
      const std::string& service = services[static_cast<std::size_t>(h - 1)];
      ins.Row({std::int64_t(chats.size() + 1), service + ";-;" + id, std::int64_t{45},
               std::int64_t{3}, Guid(rng), id, service, Value{}, std::string("E:"), std::int64_t{0},
               std::string("")});
      chats.push_back(Chat{{h}});
    }
    for (int g = 0; g < 2 && handleCount >= 4; ++g) {
      std::string room = "chat" + std::to_string(100000 + rng.Below(900000));
      ins.Row({std::int64_t(chats.size() + 1), "iMessage;+;" + room, std::int64_t{43},
               std::int64_t{3}, Guid(rng), room, std::string("iMessage"), room, std::string("E:"),
               std::int64_t{0}, g == 0 ? std::string("Weekend trip") : std::string("")});
      chats.push_back(Chat{{1, 2 + g, 3 + g}});
    }
    if (handleCount >= 6) {
      std::string room = "chat" + std::to_string(100000 + rng.Below(900000));
      ins.Row({std::int64_t(chats.size() + 1), "iMessage;+;" + room, std::int64_t{43},
               std::int64_t{3}, Guid(rng), room, std::string("iMessage"), room, std::string("E:"),
               std::int64_t{0}, Value{}});
      chats.push_back(Chat{{2, 4, 5, 6}});
    }
  }
  std::vector<std::size_t> groups;
  for (std::size_t c = 0; c < chats.size(); ++c)
    if (chats[c].handles.size() > 1) groups.push_back(c);
  {
    Inserter ins(db, &truth.Table("chat_handle_join"), "chat_handle_join",
                 {"chat_id", "handle_id"});
    for (std::size_t c = 0; c < chats.size(); ++c)
      for (std::int64_t h : chats[c].handles) ins.Row({std::int64_t(c + 1), h});
  }

  // Messages, oldest first, over the 120 days before the backup.
  const std::int64_t end = ParseIsoDate(o.date) - 3600;
  std::int64_t when = end - 120 * 86400;
  const std::int64_t step = o.messages > 0 ? (120 * 86400) / (o.messages + 1) : 0;
  std::vector<std::int64_t> textRows, spilling;
  // From iOS 16 on, every text is stored as an attributed string as well, and some
  // messages keep it only there.
  const bool bodies = v.major >= 16;
  std::vector<std::string> messageColumns = {
      "ROWID",           "guid",       "text",      "handle_id",      "service",
      "account",         "date",       "date_read", "date_delivered", "is_delivered",
      "is_finished",     "is_from_me", "is_read",   "is_sent",        "cache_has_attachments",
      "cache_roomnames", "type",       "version"};
  if (bodies) messageColumns.push_back("attributedBody");
  Inserter msg(db, &truth.Table("message"), "message", messageColumns);
  Inserter cmj(db, &truth.Table("chat_message_join"), "chat_message_join",
               {"chat_id", "message_id", "message_date"});
  Inserter att(db, &truth.Table("attachment"), "attachment",
               {"ROWID", "guid", "created_date", "start_date", "filename", "uti", "mime_type",
                "transfer_state", "is_outgoing", "transfer_name", "total_bytes", "original_guid"});
  Inserter maj(db, &truth.Table("message_attachment_join"), "message_attachment_join",
               {"message_id", "attachment_id"});
  std::int64_t attachmentId = 0;
  for (int i = 0; i < o.messages; ++i) {
    when += step > 1 ? static_cast<std::int64_t>(rng.Range(step / 2, step)) : 1;
    const std::int64_t rowid = i + 1;
    // Every fifth message goes to a group, so that each group has a conversation to show.
    std::size_t chatIndex = rng.Below(chats.size());
    if (i % 5 == 2 && !groups.empty()) chatIndex = groups[(i / 5) % groups.size()];
    const Chat& chat = chats[chatIndex];
    const bool group = chat.handles.size() > 1;
    const bool fromMe = rng.Chance(40);
    // In a group the owner's messages carry handle 0; received ones the sender's handle.
    std::int64_t handle =
        group ? (fromMe ? 0 : chat.handles[rng.Below(chat.handles.size())]) : chat.handles[0];
    const int kind = i % 17;  // 5: attachment only, 9: null text, 13: no chat
    Value text = Sentence(rng, 2, 14);
    if (kind == 9) text = Value{};
    if (kind == 5) text = std::string("\xEF\xBF\xBC");  // object replacement character
    if (i % 53 == 7) {
      std::string longText;
      while (longText.size() < 6000) longText += Sentence(rng, 8, 16) + ". ";
      text = longText;
    }
    // Messages that are deleted later and spill into overflow pages.
    const bool spills =
        o.deletedRows && i % 41 == 19 && kind != 5 && kind != 9 && i % 61 != 30 && i % 97 != 40;
    if (spills)
      text = SpillingText(o.seed * 1000003 + static_cast<std::uint64_t>(rowid), truth.pageSize);
    Value body;
    if (bodies && std::holds_alternative<std::string>(text)) {
      // Lengths on both sides of where the length prefix grows (128 and 65,536 bytes).
      if (i % 61 == 30) text = Utf8Prefix(std::get<std::string>(text) + std::string(200, 'x'), 128);
      if (i % 97 == 40) {
        std::string huge;
        while (huge.size() < 70000) huge += Sentence(rng, 8, 16) + " ";
        text = huge;
      }
      body = Blob{AttributedBody(std::get<std::string>(text), i % 2 == 0)};
      if (i % 3 != 0 && kind != 5) {
        truth.bodyTexts[rowid] = std::get<std::string>(text);
        text = Value{};
      }
    }
    const std::int64_t secs = when - kAppleEpoch;
    const std::int64_t date =
        nanos ? secs * 1000000000 + static_cast<std::int64_t>(rng.Below(1000)) * 1000000 : secs;
    const std::int64_t read = fromMe ? 0 : date + (nanos ? 60000000000ll : 60);
    const std::string service = services[static_cast<std::size_t>((handle ? handle : 1) - 1)];
    std::vector<Value> row = {rowid,
                              Guid(rng),
                              text,
                              handle,
                              service,
                              std::string("e:owner@example.com"),
                              date,
                              read,
                              fromMe ? date + (nanos ? 2000000000ll : 2) : std::int64_t{0},
                              std::int64_t{fromMe ? 1 : 0},
                              std::int64_t{1},
                              std::int64_t{fromMe ? 1 : 0},
                              std::int64_t{fromMe ? 0 : 1},
                              std::int64_t{fromMe ? 1 : 0},
                              std::int64_t{kind == 5 ? 1 : 0},
                              Value{},
                              std::int64_t{0},
                              std::int64_t{10}};
    if (bodies) row.push_back(body);
    msg.Row(std::move(row));
    if (kind != 13) cmj.Row({std::int64_t(chatIndex + 1), rowid, date});
    if (spills)
      spilling.push_back(rowid);
    else if (std::holds_alternative<std::string>(text) && std::get<std::string>(text).size() > 3)
      textRows.push_back(rowid);
    if (kind == 5) {
      ++attachmentId;
      char sub[16];
      std::snprintf(sub, sizeof sub, "%02x/%02d", static_cast<unsigned>(attachmentId * 37 % 256),
                    static_cast<int>(attachmentId % 16));
      const std::string guid = Guid(rng);
      // Every fourth attachment is a PNG whose name claims a JPEG.
      const bool png = attachmentId % 4 == 0;
      const bool empty = attachmentId % 7 == 3;
      const std::string name = "IMG_" + std::to_string(1000 + attachmentId) + ".jpeg";
      const std::string rel =
          "Library/SMS/Attachments/" + std::string(sub) + "/" + guid + "/" + name;
      std::string bytes = empty ? std::string() : MediaBytes(png ? "png" : "jpeg-jfif", rng, 900);
      ctx.AddFile("MediaDomain", rel, bytes, empty ? "empty" : (png ? "png" : "jpg"), when);
      att.Row({attachmentId, "at_0_" + guid, secs, secs, "~/" + rel,
               std::string(png ? "public.png" : "public.jpeg"),
               std::string(png ? "image/png" : "image/jpeg"), std::int64_t{5},
               std::int64_t{fromMe ? 1 : 0}, name, std::int64_t(bytes.size()), guid});
      maj.Row({rowid, attachmentId});
    }
  }

  // Deleted messages: a few scattered rows (freeblocks) and, with enough rows, one run
  // long enough to empty whole pages onto the freelist.
  if (o.deletedRows && textRows.size() >= 10) {
    std::vector<std::int64_t> scattered, run;
    const std::size_t from = textRows.size() / 2;
    const bool hasRun = textRows.size() >= 400;
    if (hasRun)
      for (std::size_t k = from; k < from + 150; ++k) run.push_back(textRows[k]);
    // Single rows well away from the run, whose merges rewrite the pages beside it.
    for (std::size_t k = 3; k < textRows.size(); k += 23)
      if (!hasRun || k + 300 < from || k > from + 450) scattered.push_back(textRows[k]);
    std::vector<std::int64_t> all = scattered;
    all.insert(all.end(), run.begin(), run.end());
    DeleteRows(db, truth, "chat_message_join",
               RowidsWhere(truth, "chat_message_join", "message_id", all), "", "row");
    DeleteRows(db, truth, "message", run, "text", "page");
    DeleteRows(db, truth, "message", scattered, "text", "row");
  }
  if (!spilling.empty()) {
    DeleteRows(db, truth, "chat_message_join",
               RowidsWhere(truth, "chat_message_join", "message_id", spilling), "", "row");
    DeleteRows(db, truth, "message", spilling, "text", "spilled");
  }
  db.Exec("COMMIT;");
  db.Close();
  ctx.FinishDatabase(truth, end);
}

}  // namespace bv::mkbackup
