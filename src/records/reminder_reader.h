#pragma once
// Reminders of the reminders app from iOS 13 on: Core Data stores in the app group
// container (AppDomainGroup-group.com.apple.reminders, Container_v1/Stores/Data-*.sqlite),
// one per account. Table ZREMCDREMINDER: ZTITLE, ZNOTES, ZDUEDATE, ZALLDAY, ZTIMEZONE,
// ZCOMPLETED, ZCOMPLETIONDATE, ZPRIORITY, ZMARKEDFORDELETION (in Recently Deleted),
// ZLIST -> the list's row, whose name is ZNAME (ZNAME1 ... where Core Data numbered a
// repeated attribute) in ZREMCDBASELIST, ZREMCDLIST or ZREMCDOBJECT, whichever the
// store has. Columns are located by name. Earlier systems keep reminders in
// Calendar.sqlitedb (CalendarReader::ReadTasks). Runs on the scan thread.
#include <list>
#include <string>
#include <vector>

#include "common/result_codes.h"
#include "records/readonly_db.h"
#include "records/record_types.h"

namespace bv {

// The manifest key of a reminders store: domain and path of one Data-*.sqlite (no
// "-wal", "-shm" or "-journal" side file).
bool IsRemindersStoreKey(std::string_view key);

class ReminderReader {
 public:
  // Replaces `reminders` by the reminders of every store, ordered as SortReminders
  // does. Result: the first failure among the stores (an open code, or 1006 for a store
  // whose statement fails) while the others are still read, else 0. `storesWithTable`
  // counts the stores that hold a reminder table. Each store is read with its log.
  Result ReadStores(const std::vector<DatabaseFile>& stores, std::list<ReminderRecord>& reminders,
                    int* storesWithTable = nullptr);

  // After ReadStores: the first store's issue among those that could not be read whole
  // (a store without the reminder table included); a store read without (all of) its
  // log when no store failed.
  const DatabaseIssue& Problem() const { return problem_; }

 private:
  DatabaseIssue problem_;
};

}  // namespace bv
