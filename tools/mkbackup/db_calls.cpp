// Call history: CallHistory.storedata (ZCALLRECORD, real-number dates and durations)
// from iOS 8, the older call_history.db before, and its leftover copy on iOS 8 and 9.
#include "internal.h"

namespace bv::mkbackup {

namespace {

struct Call {
  std::string address;
  std::int64_t unixTime;
  double duration;
  bool answered, originated;
  int type;
};

std::vector<Call> MakeCalls(BackupContext& ctx, Prng& rng) {
  const BackupOptions& o = ctx.options();
  const std::vector<Person> people = MakePeople(o.seed, o.contacts);
  std::vector<std::string> numbers;
  for (const Person& p : people)
    for (const std::string& n : p.phones) numbers.push_back(n);
  numbers.push_back("+15559990002");  // nobody's number
  numbers.push_back("1234");          // too short to be matched by name
  numbers.push_back("5551000013");    // national form of a known number
  std::vector<Call> calls;
  const std::int64_t end = ParseIsoDate(o.date) - 1800;
  std::int64_t when = end - 60 * 86400;
  const std::int64_t step = o.calls > 0 ? 60 * 86400 / (o.calls + 1) : 0;
  for (int i = 0; i < o.calls; ++i) {
    when += step > 1 ? rng.Range(step / 2, step) : 1;
    Call c;
    c.address = i % 29 == 11 ? std::string() : rng.Pick(numbers);
    c.unixTime = when;
    c.answered = !rng.Chance(25);
    c.originated = rng.Chance(45);
    c.duration =
        c.answered ? static_cast<double>(rng.Range(0, 5400)) + rng.Below(1000) / 1000.0 : 0.0;
    if (i % 13 == 5) c.duration = 65.7;
    c.type = i % 11 == 3 ? 8 : (i % 11 == 7 ? 16 : 1);
    calls.push_back(c);
  }
  return calls;
}

void WriteOldCallDb(BackupContext& ctx, const std::vector<Call>& calls, const char* section,
                    bool deleteSome) {
  TruthDb& truth =
      ctx.BeginDatabase("call_history.db", "WirelessDomain", "Library/CallHistory/call_history.db",
                        RecordPageSize(ctx.options()));
  Db db(ctx.StoredPath(truth.fileId), truth.pageSize);
  db.Exec("BEGIN;");
  CreateOverlay(db, truth, {section});
  {
    Inserter ins(
        db, &truth.Table("call"), "call",
        {"ROWID", "address", "date", "duration", "flags", "id", "name", "country_code",
         "network_code", "read", "assisted", "face_time_data", "originalAddress", "answered"});
    std::int64_t rowid = 0;
    for (const Call& c : calls) {
      ins.Row({++rowid, c.address.empty() ? Value{} : Value{c.address}, c.unixTime,
               static_cast<std::int64_t>(c.duration), std::int64_t{c.originated ? 5 : 4},
               std::int64_t{-1}, Value{}, std::string("310"), std::string("410"), std::int64_t{1},
               std::int64_t{0}, Value{}, c.address.empty() ? Value{} : Value{c.address},
               std::int64_t{c.answered ? 1 : 0}});
    }
  }
  if (deleteSome && calls.size() >= 10) {
    std::vector<std::int64_t> rows;
    for (std::size_t k = 2; k < calls.size(); k += 17)
      if (!calls[k].address.empty()) rows.push_back(static_cast<std::int64_t>(k + 1));
    DeleteRows(db, truth, "call", rows, "address", "row");
  }
  db.Exec("COMMIT;");
  db.Close();
  ctx.FinishDatabase(truth, ParseIsoDate(ctx.options().date) - 600);
}

}  // namespace

void WriteCallHistory(BackupContext& ctx) {
  const BackupOptions& o = ctx.options();
  const Version v = ctx.version();
  Prng rng = ctx.prng().Fork(33);
  const std::vector<Call> calls = MakeCalls(ctx, rng);

  if (v.major < 8) {
    WriteOldCallDb(ctx, calls,
                   v.major < 5 ? "call_history.db (WirelessDomain" : "call_history.db | iOS 6.1.6",
                   o.deletedRows);
    return;
  }
  if (v.major < 10) {
    // The old database stays behind, holding the calls of the years before.
    std::vector<Call> old(calls.begin(), calls.begin() + static_cast<long>(calls.size() / 4));
    for (Call& c : old) c.unixTime -= 365 * 86400;
    WriteOldCallDb(ctx, old, "call_history.db | iOS 9.3.5", false);
  }
  TruthDb& truth =
      ctx.BeginDatabase("CallHistory.storedata", "HomeDomain",
                        "Library/CallHistoryDB/CallHistory.storedata", RecordPageSize(o));
  Db db(ctx.StoredPath(truth.fileId), truth.pageSize);
  db.Exec("BEGIN;");
  std::vector<std::string> sections = {"CallHistory.storedata (HomeDomain"};
  if (v.major >= 10) sections.push_back("CallHistory.storedata | iOS 10.3.3");
  CreateOverlay(db, truth, sections);
  {
    Inserter ins(db, &truth.Table("ZCALLRECORD"), "ZCALLRECORD",
                 {"Z_PK",
                  "Z_ENT",
                  "Z_OPT",
                  "ZANSWERED",
                  "ZCALL_CATEGORY",
                  "ZCALLTYPE",
                  "ZDISCONNECTED_CAUSE",
                  "ZFACE_TIME_DATA",
                  "ZHANDLE_TYPE",
                  "ZNUMBER_AVAILABILITY",
                  "ZORIGINATED",
                  "ZREAD",
                  "ZDATE",
                  "ZDURATION",
                  "ZDEVICE_ID",
                  "ZISO_COUNTRY_CODE",
                  "ZLOCATION",
                  "ZNAME",
                  "ZSERVICE_PROVIDER",
                  "ZUNIQUE_ID",
                  "ZADDRESS"});
    std::int64_t pk = 0;
    for (const Call& c : calls) {
      // Dates carry a fraction of a second, as the phone stores them.
      const double zdate = static_cast<double>(c.unixTime - kAppleEpoch) + (pk % 7) * 0.125;
      ins.Row({++pk,
               std::int64_t{2},
               std::int64_t{1},
               std::int64_t{c.answered ? 1 : 0},
               std::int64_t{1},
               std::int64_t{c.type},
               std::int64_t{0},
               Value{},
               std::int64_t{2},
               std::int64_t{0},
               std::int64_t{c.originated ? 1 : 0},
               std::int64_t{1},
               zdate,
               c.duration,
               Value{},
               std::string("us"),
               std::string("RecentsNumberLocationNotFound"),
               Value{},
               std::string(c.type == 1 ? "com.apple.Telephony" : "com.apple.FaceTime"),
               Guid(rng),
               c.address.empty() ? Value{} : Value{Blob{c.address}}});
    }
  }
  {
    Inserter props(db, &truth.Table("ZCALLDBPROPERTIES"), "ZCALLDBPROPERTIES",
                   {"Z_PK", "Z_ENT", "Z_OPT", "ZTIMER_ALL", "ZTIMER_INCOMING"});
    props.Row({std::int64_t{1}, std::int64_t{1}, std::int64_t{1}, 12345.0, 6789.0});
  }
  if (o.deletedRows && calls.size() >= 10) {
    std::vector<std::int64_t> rows;
    for (std::size_t k = 2; k < calls.size(); k += 17)
      if (!calls[k].address.empty()) rows.push_back(static_cast<std::int64_t>(k + 1));
    DeleteRows(db, truth, "ZCALLRECORD", rows, "ZUNIQUE_ID", "row");
  }
  db.Exec("COMMIT;");
  db.Close();
  ctx.FinishDatabase(truth, ParseIsoDate(o.date) - 600);
}

}  // namespace bv::mkbackup
