#pragma once
// The record readers of a backup's databases, and how the data source calls them.
//
// Paths are UTF-8 text. Every reader opens its own
// read-only connection(s) and closes them before returning; nothing is written beside
// the backup files. The readers never move the catalogue's progress; the slot makes
// the end advance. All of this runs on the scan thread (chat text: export worker).
//
// Wiring of the CLocalBuckupRecovery slots (`cat` is the BackupCatalog):
//
//   ReadMessages(map):
//     ProgressSink sink{cat.progressCallback, cat.progressUser, cat.progress, cat.progressStep};
//     Result r = MessageReader(sink).Read(smsDb, addressBook, map);
//     cat.Advance(cat.progressStep / 2);  // answer ignored; no copy in the catalogue
//     return r;
//   ReadContacts(list):
//     Result r = ContactReader().Read(addressBook, list);
//     cat.Advance(cat.progressStep / 2);  return r;               // answer ignored
//   ReadCallHistory(list): callDb = CallHistory.storedata (5a4935c7...) when that file
//     exists, else call_history.db (2b2b0084...);
//     Result r = CallHistoryReader().Read(callDb, addressBook, list);
//     cat.Advance(cat.progressStep / 2);  return r;               // answer ignored
//   ReadNotes(list): older ca3bc056..., newer 4f98687d...;
//     Result r = NoteReader().Read(older, newer, list);
//     cat.Advance(cat.progressStep / 2);  return r;               // answer ignored
//   ReadWhatsApp(map): cat.whatsAppChats.clear(); find ChatStorage.sqlite in the manifest;
//     WhatsAppReader().Read(chatStorage, map);   // its result is replaced:
//     cat.whatsAppChats = map;  return cat.Advance(cat.progressStep);
//   WriteWhatsAppChatText(key, output, cb, user):
//     return WriteWhatsAppChatText(cat.whatsAppChats, key, output, cb, user);
//
// A database that is missing gives the open code 14 (SQLITE_CANTOPEN); a file of
// another layout gives 1006 where the statement's failure is reported.
#include "records/bookmark_reader.h"
#include "records/calendar_reader.h"
#include "records/call_history_reader.h"
#include "records/contact_reader.h"
#include "records/message_reader.h"
#include "records/note_reader.h"
#include "records/progress_sink.h"
#include "records/reminder_reader.h"
#include "records/whatsapp_reader.h"
