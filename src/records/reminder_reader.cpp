#include "records/reminder_reader.h"

#include "records/calendar_reader.h"
#include "records/calendar_time.h"
#include "records/item_tables.h"
#include "records/readonly_db.h"

namespace bv {

namespace {

constexpr std::string_view kStoresPrefix =
    "AppDomainGroup-group.com.apple.reminders-Container_v1/Stores/Data-";
constexpr std::string_view kStoreSuffix = ".sqlite";

enum Column {
  kRowId,
  kTitle,
  kNotes,
  kDue,
  kAllDay,
  kZone,
  kCompleted,
  kCompletion,
  kPriority,
  kMarkedDeleted,
  kList,
  kUid,
  kModified,
  kCreated,
};

// The statement over one store; empty when it has no reminder table.
std::string StoreStatement(ReadOnlyDatabase& db) {
  const TableColumns reminders(db, "ZREMCDREMINDER");
  if (!reminders.Exists()) return {};
  std::string listTable;
  TableColumns lists;
  for (const char* candidate : {"ZREMCDBASELIST", "ZREMCDLIST", "ZREMCDOBJECT"}) {
    TableColumns columns(db, candidate);
    if (columns.Has("Z_PK") && columns.SelectNumbered("l", "ZNAME") != "NULL") {
      listTable = candidate;
      lists = std::move(columns);
      break;
    }
  }
  const bool joinList = !listTable.empty() && reminders.Has("ZLIST");
  std::string sql =
      "SELECT " + reminders.Select("r", {"Z_PK"}) + ", " + reminders.SelectNumbered("r", "ZTITLE") +
      ", " + reminders.SelectNumbered("r", "ZNOTES") + ", " + reminders.Select("r", {"ZDUEDATE"}) +
      ", " + reminders.Select("r", {"ZALLDAY"}) + ", " + reminders.Select("r", {"ZTIMEZONE"}) +
      ", " + reminders.Select("r", {"ZCOMPLETED"}) + ", " +
      reminders.Select("r", {"ZCOMPLETIONDATE"}) + ", " + reminders.Select("r", {"ZPRIORITY"}) +
      ", " + reminders.Select("r", {"ZMARKEDFORDELETION"}) + ", " +
      (joinList ? lists.SelectNumbered("l", "ZNAME") : std::string("NULL")) + ", " +
      reminders.Select(
          "r", {"ZCKIDENTIFIER", "ZDACALENDARITEMUNIQUEIDENTIFIER", "ZEXTERNALIDENTIFIER"}) +
      ", " + reminders.Select("r", {"ZLASTMODIFIEDDATE"}) + ", " +
      reminders.Select("r", {"ZCREATIONDATE"}) + " FROM \"ZREMCDREMINDER\" AS r";
  if (joinList)
    sql += " LEFT JOIN " + QuoteIdentifier(listTable) + " AS l ON l.\"Z_PK\" = r.\"ZLIST\"";
  return sql + ";";
}

struct Rows {
  CalendarClock clock;
  std::list<ReminderRecord> reminders;
};

int ReminderRow(void* context, StatementRow& row) {
  auto* rows = static_cast<Rows*>(context);
  ReminderRecord r;
  r.rowId = row.Int64(kRowId);
  r.title = TextOf(row, kTitle);
  r.notes = TextOf(row, kNotes);
  r.list = TextOf(row, kList);
  r.uid = TextOf(row, kUid);
  r.deleted = row.Int32(kMarkedDeleted) != 0 ? 1 : 0;
  r.priority = row.Int32(kPriority);
  if (r.priority < 0 || r.priority > 9) r.priority = 0;
  r.timeZone = TextOf(row, kZone);
  r.zoneKind = rows->clock.KindOf(r.timeZone);
  r.allDay = row.Int32(kAllDay) != 0 ? 1 : 0;
  r.hasDue = row.WholeSeconds(kDue, r.dueSeconds);
  if (r.hasDue) r.due = rows->clock.DayOrTime(r.dueSeconds, r.allDay != 0, r.zoneKind, r.timeZone);
  r.hasCompletion = row.WholeSeconds(kCompletion, r.completionSeconds);
  r.completed = row.Int32(kCompleted) != 0 ? 1 : 0;
  if (r.hasCompletion)
    r.completionDate = rows->clock.Text(r.completionSeconds, ZoneKind::kLocal, {});
  r.hasModified = row.WholeSeconds(kModified, r.modifiedSeconds) ||
                  row.WholeSeconds(kCreated, r.modifiedSeconds);
  rows->reminders.push_back(std::move(r));
  return 0;
}

}  // namespace

bool IsRemindersStoreKey(std::string_view key) {
  if (key.size() <= kStoresPrefix.size() + kStoreSuffix.size()) return false;
  if (key.substr(0, kStoresPrefix.size()) != kStoresPrefix) return false;
  if (key.substr(key.size() - kStoreSuffix.size()) != kStoreSuffix) return false;
  // A store file of the folder itself, not of a sub-folder.
  return key.find('/', kStoresPrefix.size()) == std::string_view::npos;
}

Result ReminderReader::ReadStores(const std::vector<DatabaseFile>& stores,
                                  std::list<ReminderRecord>& reminders, int* storesWithTable) {
  reminders.clear();
  if (storesWithTable != nullptr) *storesWithTable = 0;
  problem_ = {};
  Result result = kSuccess;
  Rows rows;
  // The first store that failed; else the first read without (all of) its log.
  auto note = [this](const DatabaseIssue& issue) {
    if (problem_.Quiet() || (problem_.Ok() && !issue.Ok())) problem_ = issue;
  };
  for (const DatabaseFile& store : stores) {
    ReadOnlyDatabase db;
    if (const int rc = db.Open(store); rc != 0) {
      note(db.Issue());
      if (result == kSuccess) result = rc;
      continue;
    }
    const std::string sql = StoreStatement(db);
    if (sql.empty()) {
      note(MissingTableIssue(db, "ZREMCDREMINDER"));
      if (result == kSuccess) result = kQueryFailed;
      continue;
    }
    if (storesWithTable != nullptr) ++*storesWithTable;
    if (db.Each(sql.c_str(), ReminderRow, &rows) && result == kSuccess) result = kQueryFailed;
    note(db.Issue());
  }
  SortReminders(rows.reminders);
  reminders.swap(rows.reminders);
  return result;
}

}  // namespace bv
