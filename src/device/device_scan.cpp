#include "device/device_scan.h"

#include "device/device_recovery.h"

namespace bv {

DeviceScanSummary ScanDevice(IDeviceAccess& access, const std::filesystem::path& toolFolder) {
  DeviceScanSummary summary;
  summary.connected = access.Connected();
  if (!summary.connected) {
    summary.error = kNotConnectedText;
    return summary;
  }
  CDeviceRecovery source;
  source.SetToolFolder(toolFolder);
  source.Attach(&access);
  std::string name;
  if (source.device_name(name) == 0) summary.name = name;
  summary.openResult = source.OpenBackup("");
  summary.error = source.LastError();
  if (summary.openResult == 2) return summary;

  ConversationMap messages;
  source.ReadMessages(messages);
  summary.conversations = messages.size();
  for (const auto& [handle, list] : messages) summary.messages += list.size();
  AttachmentList attachments;
  source.ReadMessageAttachments(attachments);
  summary.attachments = attachments.size();
  std::list<ContactRecord> contacts;
  source.ReadContacts(contacts);
  summary.contacts = contacts.size();
  std::list<CallRecord> calls;
  source.ReadCallHistory(calls);
  summary.calls = calls.size();
  std::list<NoteRecord> notes;
  source.ReadNotes(notes);
  summary.notes = notes.size();
  WhatsAppChatMap whatsApp;
  source.ReadWhatsApp(whatsApp);
  for (const auto& [session, list] : whatsApp) summary.whatsApp += list.size();
  return summary;
}

}  // namespace bv
