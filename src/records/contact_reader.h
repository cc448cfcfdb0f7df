#pragma once
// Persons of the address book (AddressBook.sqlitedb), read from its full-text-search
// content table, for the Contacts category and as the name lookup of messages and
// calls. Two column layouts of that table exist; the statement naming c16Phone runs
// first and, when SQLite rejects it, the one naming c15Phone.
// Runs on the scan thread; each read opens and closes its own connection.
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/result_codes.h"
#include "records/ordering.h"
#include "records/readonly_db.h"
#include "records/record_types.h"
#include "records/row_access.h"

namespace bv {

inline constexpr const char kAddressBookStatementNew[] =
    "select c0First, c1Last,c6Organization,c16Phone,c17Email,c20URL,docid from "
    "ABPersonFullTextSearch_content;";
inline constexpr const char kAddressBookStatementOld[] =
    "select c0First, c1Last,c6Organization,c15Phone,c16Email,c19URL,docid from "
    "ABPersonFullTextSearch_content;";

enum class ContactRowMode {
  kContacts,           // every person; empty names become "No Name"
  kPhoneRequiredName,  // lookup table: persons with a phone text; names may stay empty
};

// A person's name as the phone shows it: "First Last" with one space; last name then
// first name without a space when both are written in CJK scripts ("王小明"); a single
// part alone; the organization when both are empty; else empty.
std::string PersonName(std::string_view first, std::string_view last,
                       std::string_view organization);
// True when `text` is not empty and every character is Han, kana or Hangul (or a CJK
// mark or symbol), as the phone judges whether to join names without a space.
bool IsCjkText(std::string_view text);

// Row list that the contact row callback appends to.
struct ContactRows {
  ContactRowMode mode = ContactRowMode::kContacts;
  std::vector<NamedPhone> rows;  // name mode
  // Contacts mode: list nodes, moved into the caller's list in name order.
  std::list<ContactRecord> listed;
  NodeOrder<ContactRecord> order;
  std::unordered_map<std::int64_t, ContactRecord*> byDocid;  // contacts mode
};

// The numbers, e-mail and web addresses of the value table, one by one, for the persons
// of a contacts-mode list (by the search table's docid, which is the person's row).
// An address book without that table leaves them empty.
inline constexpr const char kMultiValueStatement[] =
    "SELECT record_id, property, value FROM ABMultiValue WHERE property IN (3, 4, 22) ORDER "
    "BY record_id, UID;";
void ReadMultiValues(ReadOnlyDatabase& db, ContactRows& rows);

// Row callback, in the form of sqlite3_exec and over a stepped statement (what the
// readers use); context is a ContactRows. Always 0.
int ContactRow(void* context, int columns, char** values, char** names);
int ContactRow(void* context, StatementRow& row);

// Runs the newer-layout statement and, if SQLite reports an error for it, the older
// one, both into `rows`. Returns 1006 when the first reported an error (even when the
// second delivered the persons), else 0.
Result RunAddressBookStatements(ReadOnlyDatabase& db, ContactRows& rows);

// What the address book's connection says after RunAddressBookStatements: kNone when
// either statement read it (the older layout rejects the newer statement; that is no
// damage) or when the address book is simply absent, which only leaves names out.
DatabaseIssue AddressBookIssue(const ReadOnlyDatabase& db);

// Opens the address book at `utf8Path` and loads the name lookup table. Returns the
// open code, 1006 as above, or 0; `rows` holds whatever was delivered.
Result LoadNameLookup(const DatabaseFile& utf8Path, std::vector<NamedPhone>& rows);

class ContactReader {
 public:
  // Replaces `contacts` by every person of the address book, ordered by name without
  // regard to case. Returns the open code (list untouched), 1006 when the first
  // statement failed, else 0. The deleted persons follow the live ones (`deleted` set).
  Result Read(const DatabaseFile& addressBookPath, std::list<ContactRecord>& contacts);
  // After Read: why the address book could not be read (kNone when it was).
  const DatabaseIssue& Problem() const { return problem_; }

 private:
  // Carved rows of the search table, then of the person table for persons the first
  // did not bring back; none whose names a listed person has.
  void AddDeletedContacts(const DatabaseFile& path, std::list<ContactRecord>& contacts);
  DatabaseIssue problem_;
};

}  // namespace bv
