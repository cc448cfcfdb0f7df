// A record database and its write-ahead log from arbitrary bytes, read by the record
// readers with their deleted-row passes (the raw page reader, the carving, spilled rows,
// the join-row search of deleted messages). The first byte picks the reader; the next
// four, big-endian, give the database's length, and the rest after it is the log.
// Nothing may crash, hang or leak, and the files are only read.
#include <cstdint>
#include <list>
#include <string>

#include "fuzz/scratch_file.h"
#include "records/readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  static const bv::fuzz::ScratchFile dbFile("bv_record_readers_fuzz_", ".db");
  static const bv::fuzz::ScratchFile logFile("bv_record_readers_fuzz_", ".db-wal");
  const std::string& db = dbFile.path();
  const std::string& log = logFile.path();
  std::size_t split = (std::size_t{data[1]} << 24) | (std::size_t{data[2]} << 16) |
                      (std::size_t{data[3]} << 8) | data[4];
  if (split > size - 5) split = size - 5;
  dbFile.Write(data + 5, split);
  logFile.Write(data + 5 + split, size - 5 - split);
  const bv::DatabaseFile file(db, log);
  switch (data[0] % 5) {
    case 0: {
      bv::ConversationMap conversations;
      bv::MessageReader({}).Read(file, bv::DatabaseFile(""), conversations);
      break;
    }
    case 1: {
      bv::WhatsAppChatMap chats;
      bv::WhatsAppReader().Read(file, chats);
      break;
    }
    case 2: {
      std::list<bv::ContactRecord> contacts;
      bv::ContactReader().Read(file, contacts);
      break;
    }
    case 3: {
      std::list<bv::CallRecord> calls;
      bv::CallHistoryReader().Read(file, bv::DatabaseFile(""), calls);
      break;
    }
    default: {
      // The older store's layout first, then the newer one's, as a backup may hold either.
      std::list<bv::NoteRecord> notes;
      bv::NoteReader().Read(file, bv::DatabaseFile(""), notes);
      notes.clear();
      bv::NoteReader().Read(bv::DatabaseFile(""), file, notes);
      break;
    }
  }
  return 0;
}
