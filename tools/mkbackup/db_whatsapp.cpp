// WhatsApp: ChatStorage.sqlite (sessions, groups and members, messages, media items),
// the contact stores, and media files in the app container and the shared container.
#include <cstdio>

#include "internal.h"

namespace bv::mkbackup {

namespace {

const char* kGroupDomain = "AppDomainGroup-group.net.whatsapp.WhatsApp.shared";
const char* kAppDomain = "AppDomain-net.whatsapp.WhatsApp";

struct Session {
  std::int64_t pk;
  std::string jid, name;
  bool group;
  std::vector<std::int64_t> members;  // member Z_PKs
};

}  // namespace

void WriteWhatsApp(BackupContext& ctx) {
  const BackupOptions& o = ctx.options();
  Prng rng = ctx.prng().Fork(55);
  const bool newer = ctx.version().major >= 10;
  const std::string domain = newer ? kGroupDomain : kAppDomain;
  const std::string path = newer ? "ChatStorage.sqlite" : "Documents/ChatStorage.sqlite";
  TruthDb& truth =
      ctx.BeginDatabase("ChatStorage.sqlite", domain, path, RecordPageSize(ctx.options()));
  Db db(ctx.StoredPath(truth.fileId), truth.pageSize);
  db.Exec("BEGIN;");
  CreateOverlay(db, truth, {"ChatStorage.sqlite"});

  const std::vector<Person> people = MakePeople(o.seed, std::max(o.contacts, 12));
  auto jidOf = [&](std::size_t i) {
    const Person& p = people[i % people.size()];
    std::string digits =
        p.phones.empty() ? "4479" + std::to_string(5000000 + i) : p.phones[0].substr(1);
    return digits + "@s.whatsapp.net";
  };
  auto nameOf = [&](std::size_t i) {
    const Person& p = people[i % people.size()];
    return p.first + (p.first.empty() || p.last.empty() ? "" : " ") + p.last;
  };

  std::vector<Session> sessions;
  struct Member {
    std::int64_t pk, session;
    std::string jid, name;
  };
  std::vector<Member> members;
  const std::size_t oneToOne = 6;
  for (std::size_t i = 0; i < oneToOne; ++i)
    sessions.push_back({static_cast<std::int64_t>(i + 1), jidOf(i), nameOf(i), false, {}});
  for (int g = 0; g < 2; ++g) {
    Session s{static_cast<std::int64_t>(sessions.size() + 1),
              "1203630" + std::to_string(40000000 + g * 777) + "@g.us",
              g == 0 ? "Family 🏠" : "Book club",
              true,
              {}};
    // The second group lists a member without a name first.
    for (std::size_t m = 0; m < 3; ++m) {
      Member mem{static_cast<std::int64_t>(members.size() + 1), s.pk, jidOf(2 + m + g),
                 (g == 1 && m == 0) ? std::string() : nameOf(2 + m + g)};
      s.members.push_back(mem.pk);
      members.push_back(mem);
    }
    sessions.push_back(s);
  }
  {
    Inserter ins(db, &truth.Table("ZWACHATSESSION"), "ZWACHATSESSION",
                 {"Z_PK", "Z_ENT", "Z_OPT", "ZARCHIVED", "ZHIDDEN", "ZMESSAGECOUNTER", "ZREMOVED",
                  "ZSESSIONTYPE", "ZUNREADCOUNT", "ZGROUPINFO", "ZCONTACTJID", "ZPARTNERNAME",
                  "ZLASTMESSAGEDATE"});
    for (const Session& s : sessions)
      ins.Row({s.pk, std::int64_t{4}, std::int64_t{10}, std::int64_t{0}, std::int64_t{0},
               std::int64_t{0}, std::int64_t{0}, std::int64_t{s.group ? 1 : 0}, std::int64_t{0},
               s.group ? Value{s.pk} : Value{}, s.jid, s.name,
               static_cast<double>(ParseIsoDate(o.date) - kAppleEpoch - 7200)});
  }
  {
    Inserter ins(db, &truth.Table("ZWAGROUPMEMBER"), "ZWAGROUPMEMBER",
                 {"Z_PK", "Z_ENT", "Z_OPT", "ZISACTIVE", "ZISADMIN", "ZCHATSESSION", "ZCONTACTNAME",
                  "ZFIRSTNAME", "ZMEMBERJID"});
    for (const Member& m : members)
      ins.Row({m.pk, std::int64_t{6}, std::int64_t{1}, std::int64_t{1},
               std::int64_t{m.pk % 3 == 1 ? 1 : 0}, m.session,
               m.name.empty() ? Value{} : Value{m.name},
               m.name.empty() ? Value{} : Value{m.name.substr(0, m.name.find(' '))}, m.jid});
    Inserter info(db, &truth.Table("ZWAGROUPINFO"), "ZWAGROUPINFO",
                  {"Z_PK", "Z_ENT", "Z_OPT", "ZSTATE", "ZCHATSESSION", "ZCREATORJID"});
    for (const Session& s : sessions)
      if (s.group) info.Row({s.pk, std::int64_t{5}, std::int64_t{1}, std::int64_t{0}, s.pk, s.jid});
  }

  const std::int64_t end = ParseIsoDate(o.date) - 3000;
  std::int64_t when = end - 45 * 86400;
  const std::int64_t step = o.whatsapp > 0 ? 45 * 86400 / (o.whatsapp + 1) : 0;
  std::vector<std::int64_t> textRows, spilling;
  {
    Inserter msg(db, &truth.Table("ZWAMESSAGE"), "ZWAMESSAGE",
                 {"Z_PK", "Z_ENT", "Z_OPT", "ZISFROMME", "ZMESSAGESTATUS", "ZMESSAGETYPE", "ZSORT",
                  "ZCHATSESSION", "ZGROUPMEMBER", "ZMEDIAITEM", "ZMESSAGEDATE", "ZSENTDATE",
                  "ZFROMJID", "ZPUSHNAME", "ZSTANZAID", "ZTEXT", "ZTOJID"});
    Inserter media(db, &truth.Table("ZWAMEDIAITEM"), "ZWAMEDIAITEM",
                   {"Z_PK", "Z_ENT", "Z_OPT", "ZFILESIZE", "ZMESSAGE", "ZMEDIALOCALPATH", "ZTITLE",
                    "ZAUTHORNAME"});
    std::int64_t mediaPk = 0;
    // Runs of several rows per chat, as conversations happen.
    std::size_t current = 0;
    for (int i = 0; i < o.whatsapp; ++i) {
      when += step > 1 ? rng.Range(step / 2, step) : 1;
      if (i % 4 == 0) current = rng.Below(sessions.size());
      const Session& s = sessions[current];
      const std::int64_t pk = i + 1;
      const bool fromMe = rng.Chance(40);
      std::int64_t member = 0;
      std::string push;
      if (s.group && !fromMe) {
        member = s.members[rng.Below(s.members.size())];
        push = members[static_cast<std::size_t>(member - 1)].name;
        if (push.empty()) push = "~" + std::string("Reader");
      } else if (!fromMe) {
        push = s.name;
      }
      const bool isMedia = i % 9 == 4;
      Value text = Sentence(rng, 1, 12);
      if (isMedia) text = Value{};
      if (i % 31 == 17) text = std::string();  // empty text, no media: a system row
      // Messages that are deleted later and spill into overflow pages.
      const bool spills = o.deletedRows && i % 29 == 13 && !isMedia && i % 31 != 17;
      if (spills)
        text = SpillingText(o.seed * 1000033 + static_cast<std::uint64_t>(pk), truth.pageSize);
      // Whole seconds are stored as integers, others as real numbers.
      const std::int64_t secs = when - kAppleEpoch;
      const Value date = i % 3 == 0 ? Value{secs} : Value{static_cast<double>(secs) + 0.375};
      msg.Row({pk, std::int64_t{9}, std::int64_t{3}, std::int64_t{fromMe ? 1 : 0},
               std::int64_t{fromMe ? 8 : 0}, std::int64_t{isMedia ? 1 : (i % 31 == 17 ? 10 : 0)},
               static_cast<double>(pk), s.pk, member ? Value{member} : Value{},
               isMedia ? Value{mediaPk + 1} : Value{}, date, date, fromMe ? Value{} : Value{s.jid},
               push.empty() ? Value{} : Value{push}, Guid(rng), text,
               fromMe ? Value{s.jid} : Value{}});
      if (spills)
        spilling.push_back(pk);
      else if (std::holds_alternative<std::string>(text) && !std::get<std::string>(text).empty())
        textRows.push_back(pk);
      if (isMedia) {
        ++mediaPk;
        const std::string uuid = Guid(rng);
        const bool video = mediaPk % 3 == 0;
        const std::string local = "Media/" + s.jid + "/" + uuid.substr(0, 1) + "/" +
                                  uuid.substr(1, 1) + "/" + uuid + (video ? ".mp4" : ".jpg");
        const std::string bytes = MediaBytes(video ? "mp4-iso" : "jpeg-exif", rng, 1400);
        // Newer app versions keep media in the shared container, older ones in the app's.
        if (mediaPk % 2 == 0) {
          ctx.AddFile(kGroupDomain, "Message/" + local, bytes, video ? "mp4" : "jpg", when);
        } else {
          ctx.AddFile(kAppDomain, "Library/" + local, bytes, video ? "mp4" : "jpg", when);
        }
        media.Row({mediaPk, std::int64_t{8}, std::int64_t{2}, std::int64_t(bytes.size()), pk, local,
                   mediaPk % 4 == 1 ? Value{Sentence(rng, 1, 4)} : Value{}, Value{}});
      }
    }
  }
  {
    Inserter push(db, &truth.Table("ZWAPROFILEPUSHNAME"), "ZWAPROFILEPUSHNAME",
                  {"Z_PK", "Z_ENT", "Z_OPT", "ZJID", "ZPUSHNAME"});
    for (const Member& m : members)
      push.Row({m.pk, std::int64_t{15}, std::int64_t{1}, m.jid,
                m.name.empty() ? std::string("Reader") : m.name});
  }
  // The long rows first (deleted after the single rows, they once cost one of those its
  // text in the file, which the probe check expects to stay).
  if (!spilling.empty()) DeleteRows(db, truth, "ZWAMESSAGE", spilling, "ZTEXT", "spilled");
  if (o.deletedRows && textRows.size() >= 8) {
    std::vector<std::int64_t> rows;
    for (std::size_t k = 5; k < textRows.size(); k += 19) rows.push_back(textRows[k]);
    DeleteRows(db, truth, "ZWAMESSAGE", rows, "ZTEXT", "row");
  }
  db.Exec("COMMIT;");
  db.Close();
  ctx.FinishDatabase(truth, end);

  // The contact store of the app container (and the newer one in the shared container).
  TruthDb& contacts =
      ctx.BeginDatabase("Contacts.sqlite", kAppDomain, "Documents/Contacts.sqlite", 4096);
  Db cdb(ctx.StoredPath(contacts.fileId), contacts.pageSize);
  cdb.Exec("BEGIN;");
  CreateOverlay(cdb, contacts, {"Contacts.sqlite"});
  {
    Inserter c(cdb, &contacts.Table("ZWACONTACT"), "ZWACONTACT",
               {"Z_PK", "Z_ENT", "Z_OPT", "ZFIRSTNAME", "ZFULLNAME"});
    Inserter p(cdb, &contacts.Table("ZWAPHONE"), "ZWAPHONE",
               {"Z_PK", "Z_ENT", "Z_OPT", "ZCONTACT", "ZFAVORITE", "ZPHONE", "ZWHATSAPPID"});
    for (std::size_t i = 0; i < sessions.size(); ++i) {
      if (sessions[i].group) continue;
      const std::int64_t pk = static_cast<std::int64_t>(i + 1);
      const std::string& full = sessions[i].name;
      c.Row({pk, std::int64_t{1}, std::int64_t{1}, full.substr(0, full.find(' ')), full});
      p.Row({pk, std::int64_t{2}, std::int64_t{1}, pk, std::int64_t{0},
             "+" + sessions[i].jid.substr(0, sessions[i].jid.find('@')),
             sessions[i].jid.substr(0, sessions[i].jid.find('@'))});
    }
  }
  cdb.Exec("COMMIT;");
  cdb.Close();
  ctx.FinishDatabase(contacts, end);

  if (newer) {
    TruthDb& v2 = ctx.BeginDatabase("ContactsV2.sqlite", kGroupDomain, "ContactsV2.sqlite", 4096);
    Db vdb(ctx.StoredPath(v2.fileId), v2.pageSize);
    vdb.Exec("BEGIN;");
    CreateOverlay(vdb, v2, {"ContactsV2.sqlite"});
    {
      Inserter c(
          vdb, &v2.Table("ZWAADDRESSBOOKCONTACT"), "ZWAADDRESSBOOKCONTACT",
          {"Z_PK", "Z_ENT", "Z_OPT", "ZFULLNAME", "ZGIVENNAME", "ZPHONENUMBER", "ZWHATSAPPID"});
      for (std::size_t i = 0; i < sessions.size(); ++i) {
        if (sessions[i].group) continue;
        const std::string& full = sessions[i].name;
        const std::string digits = sessions[i].jid.substr(0, sessions[i].jid.find('@'));
        c.Row({static_cast<std::int64_t>(i + 1), std::int64_t{1}, std::int64_t{1}, full,
               full.substr(0, full.find(' ')), "+" + digits, sessions[i].jid});
      }
    }
    vdb.Exec("COMMIT;");
    vdb.Close();
    ctx.FinishDatabase(v2, end);
  }
}

}  // namespace bv::mkbackup
