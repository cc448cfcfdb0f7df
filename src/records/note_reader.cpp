#include "records/note_reader.h"

#include "records/ordering.h"
#include "common/text.h"
#include "records/date_text.h"
#include "records/readonly_db.h"

namespace bv {

namespace {
const char* Column(int columns, char** values, int index) {
  return index < columns && values != nullptr ? values[index] : nullptr;
}

void SortNewestFirst(std::list<NoteRecord>& notes) {
  if (notes.size() < 2) return;
  std::vector<NoteRecord> ordered(std::make_move_iterator(notes.begin()),
                                  std::make_move_iterator(notes.end()));
  OrderByText(ordered, [](const NoteRecord& n) -> const std::wstring& { return n.date; }, true);
  notes.assign(std::make_move_iterator(ordered.begin()), std::make_move_iterator(ordered.end()));
}
}  // namespace

void CleanNoteText(std::wstring& text) {
  ReplaceAll(text, L"&#39;", L"'");
  ReplaceAll(text, L"&quot;", L"\"");
  ReplaceAll(text, L"&lt;", L"<");
  ReplaceAll(text, L"&gt;", L">");
  ReplaceAll(text, L"&nbsp;", L" ");
  ReplaceAll(text, L"&amp;", L"&");
  ReplaceAll(text, L"<div>", L"\n");
  ReplaceAll(text, L"</div>", L"");
  ReplaceAll(text, L"<br>", L"\n");
}

int NoteReader::OlderRow(void* context, int columns, char** values, char** /*names*/) {
  auto* reader = static_cast<NoteReader*>(context);
  NoteRecord note;
  note.title = Utf8ToWide(Column(columns, values, 1));
  note.body = Utf8ToWide(Column(columns, values, 2));
  if (note.title.empty() && note.body.empty()) return 0;
  note.date = reader->dates_.FromAppleSeconds(Column(columns, values, 0));
  reader->rows_.push_back(std::move(note));
  return 0;
}

int NoteReader::NewerRow(void* context, int columns, char** values, char** /*names*/) {
  auto* reader = static_cast<NoteReader*>(context);
  NoteRecord note;
  note.title = Utf8ToWide(Column(columns, values, 0));
  note.body = Utf8ToWide(Column(columns, values, 1));
  if (note.title.empty() && note.body.empty()) return 0;
  note.date = Utf8ToWide(Column(columns, values, 2));
  reader->rows_.push_back(std::move(note));
  return 0;
}

void NoteReader::CleanAndReplace(std::list<NoteRecord>& notes) {
  std::list<NoteRecord> cleaned;
  for (NoteRecord& note : rows_) {
    if (note.title.empty() && note.body.empty()) continue;
    CleanNoteText(note.body);
    CleanNoteText(note.title);
    cleaned.push_back(std::move(note));
  }
  rows_.clear();
  notes.swap(cleaned);
}

Result NoteReader::ReadOlderStore(const std::string& path, std::list<NoteRecord>& notes) {
  rows_.clear();
  ReadOnlyDatabase db;
  const int rc = db.Open(path);
  if (rc != 0) return rc;
  if (db.Exec(kOlderNoteStatement, OlderRow, this)) {
    rows_.clear();
    return kQueryFailed;
  }
  CleanAndReplace(notes);
  SortNewestFirst(notes);
  return kSuccess;
}

Result NoteReader::ReadNewerStore(const std::string& path, std::list<NoteRecord>& notes) {
  rows_.clear();
  Result result = kSuccess;
  {
    ReadOnlyDatabase db;
    const int rc = db.Open(path);
    if (rc != 0) {
      result = rc;
    } else if (db.Exec(kNewerNoteStatement, NewerRow, this)) {
      result = kQueryFailed;
    } else {
      CleanAndReplace(notes);
    }
  }
  rows_.clear();
  SortNewestFirst(notes);
  return result;
}

Result NoteReader::Read(const std::string& olderPath, const std::string& newerPath,
                        std::list<NoteRecord>& notes) {
  Result result = ReadOlderStore(olderPath, notes);
  if (notes.empty()) result = ReadNewerStore(newerPath, notes);
  return result;
}

}  // namespace bv
