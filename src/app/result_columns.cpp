#include "app/result_columns.h"

#include <array>

#include "app/qt_text.h"
#include "common/text.h"
#include "records/bookmark_reader.h"

namespace bv {

namespace {

// A column whose cell reads one kind of record; any other item gives an empty cell.
template <typename Record, typename Text>
ResultColumn Col(const char* key, const char* heading, int width, Text text,
                 const char* sample = "") {
  return ResultColumn{key, heading, width,
                      [text](const StatItem& item) -> QString {
                        const auto* p = std::get_if<const Record*>(&item);
                        return p && *p ? OneLine(text(**p)) : QString();
                      },
                      sample};
}

// Samples of texts that must show whole: a date, a phone number.
constexpr const char* kDate = "0000-00-00 00:00:00";
constexpr const char* kNumber = "+000000000000";
constexpr const char* kEnteredNumber = "+0 (000) 000-0000";

QString Size(std::uint32_t bytes) {
  return ToQ(FormatSize(static_cast<std::int64_t>(bytes)));
}

QString CallStatus(const CallRecord& c) {
  if (c.duration != 0) return ToQ(FormatDuration(c.duration));
  return c.answered != 0 ? QStringLiteral("Missed") : QStringLiteral("Canceled");
}

std::vector<ResultColumn> NoteColumns() {
  return {
      Col<NoteRecord>("ColTitle", "Title", 100, [](const NoteRecord& n) { return ToQ(n.title); }),
      Col<NoteRecord>(
          "ColDate", "Date", 110, [](const NoteRecord& n) { return ToQ(n.date); }, kDate),
      Col<NoteRecord>("ColNote", "Note", 0, [](const NoteRecord& n) { return ToQ(n.body); })};
}

std::vector<ResultColumn> ReminderColumns() {
  return {Col<ReminderRecord>("ColTitle", "Title", 150,
                              [](const ReminderRecord& r) { return ToQ(r.title); }),
          Col<ReminderRecord>("ColList", "List", 100,
                              [](const ReminderRecord& r) { return ToQ(r.list); }),
          Col<ReminderRecord>(
              "ColDue", "Due", 120, [](const ReminderRecord& r) { return ToQ(r.due); }, kDate),
          Col<ReminderRecord>("ColStatus", "Status", 0, [](const ReminderRecord& r) {
            if (r.deleted != 0) return QStringLiteral("Deleted");
            return r.completed != 0 ? QStringLiteral("Completed") : QStringLiteral("Normal");
          })};
}

std::vector<ResultColumn> EventColumns() {
  return {Col<CalendarEventRecord>("ColTitle", "Title", 150,
                                   [](const CalendarEventRecord& e) { return ToQ(e.title); }),
          Col<CalendarEventRecord>(
              "ColStart", "Start", 120, [](const CalendarEventRecord& e) { return ToQ(e.start); },
              kDate),
          Col<CalendarEventRecord>(
              "ColEnd", "End", 120, [](const CalendarEventRecord& e) { return ToQ(e.end); }, kDate),
          Col<CalendarEventRecord>("ColCalendar", "Calendar", 100,
                                   [](const CalendarEventRecord& e) { return ToQ(e.calendar); }),
          Col<CalendarEventRecord>("ColLocation", "Location", 0,
                                   [](const CalendarEventRecord& e) { return ToQ(e.location); })};
}

std::vector<ResultColumn> BookmarkColumns() {
  return {
      Col<BookmarkRecord>("ColTitle", "Title", 180,
                          [](const BookmarkRecord& b) { return ToQ(b.title); }),
      Col<BookmarkRecord>("ColFolder", "Folder", 120,
                          [](const BookmarkRecord& b) { return ToQ(BookmarkFolderText(b)); }),
      Col<BookmarkRecord>("ColUrl", "URL", 0, [](const BookmarkRecord& b) { return ToQ(b.url); })};
}

std::vector<ResultColumn> CallColumns() {
  return {Col<CallRecord>("ColUserName", "User Name", 150,
                          [](const CallRecord& c) { return ToQ(c.name); }),
          Col<CallRecord>(
              "ColPhoneNumber", "Phone Number", 150,
              [](const CallRecord& c) { return ToQ(c.address); }, kNumber),
          Col<CallRecord>(
              "ColDate", "Date", 130, [](const CallRecord& c) { return ToQ(c.date); }, kDate),
          Col<CallRecord>("ColCallStatus", "Call Status", 100,
                          [](const CallRecord& c) {
                            return c.answered != 0 ? QStringLiteral("Incoming")
                                                   : QStringLiteral("Outgoing");
                          }),
          Col<CallRecord>("ColDuration", "Duration", 100, CallStatus),
          Col<CallRecord>("ColStatus", "Status", 0, [](const CallRecord& c) {
            return c.deleted != 0 ? QStringLiteral("Deleted") : QStringLiteral("Normal");
          })};
}

std::vector<ResultColumn> MessageColumns() {
  return {Col<MessageRecord>("ColUserName", "User Name", 100,
                             [](const MessageRecord& m) { return ToQ(m.name); }),
          Col<MessageRecord>(
              "ColPhoneNumber", "Phone Number", 100,
              [](const MessageRecord& m) { return ToQ(m.sender); }, kNumber),
          Col<MessageRecord>(
              "ColDate", "Date", 120, [](const MessageRecord& m) { return ToQ(m.date); }, kDate),
          Col<MessageRecord>("ColMessage", "Message", 0,
                             [](const MessageRecord& m) { return ToQ(m.text); })};
}

std::vector<ResultColumn> ContactColumns() {
  return {Col<ContactRecord>("ColName", "Name", 100,
                             [](const ContactRecord& c) { return ToQ(c.name); }),
          Col<ContactRecord>("ColCompany", "Company", 100,
                             [](const ContactRecord& c) { return ToQ(c.organization); }),
          Col<ContactRecord>(
              "ColPhone", "Phone", 100,
              [](const ContactRecord& c) { return FirstLine(ToQ(c.phone)); }, kEnteredNumber),
          Col<ContactRecord>("ColEmail", "Email", 100,
                             [](const ContactRecord& c) { return ToQ(c.email); }),
          Col<ContactRecord>("ColHomePage", "Home Page", 0,
                             [](const ContactRecord& c) { return ToQ(c.url); })};
}

std::vector<ResultColumn> ChatColumns() {
  return {Col<WhatsAppMessageRecord>(
              "ColChats", "Chats", 150,
              [](const WhatsAppMessageRecord& m) { return ToQ(m.chatPartner()); }),
          Col<WhatsAppMessageRecord>("ColName", "Name", 150,
                                     [](const WhatsAppMessageRecord& m) {
                                       return ToQ(m.chatTitle().empty()
                                                      ? m.senderName.view()
                                                      : std::string_view(m.chatTitle()));
                                     }),
          Col<WhatsAppMessageRecord>("ColPhone", "Phone", 0, [](const WhatsAppMessageRecord& m) {
            return ToQ(m.chatJids().empty() ? m.pushName : m.chatJids());
          })};
}

// A WeChat or QQ chat: its account, its partner (or group), when it last had a
// message, and how many of its messages are live and how many were deleted.
std::vector<ResultColumn> ChatAppColumns() {
  return {
      Col<ChatAppChat>("ColAccount", "Account", 80,
                       [](const ChatAppChat& c) { return ToQ(c.account); }),
      Col<ChatAppChat>("ColChat", "Chat", 140, [](const ChatAppChat& c) { return ToQ(c.chat); }),
      Col<ChatAppChat>(
          "ColLastMessage", "Last Message", 130,
          [](const ChatAppChat& c) { return ToQ(c.lastTime); }, kDate),
      Col<ChatAppChat>("ColMessages", "Messages", 80,
                       [](const ChatAppChat& c) { return QString::number(c.live); }),
      Col<ChatAppChat>("ColDeleted", "Deleted", 0,
                       [](const ChatAppChat& c) { return QString::number(c.deleted); })};
}

std::vector<ResultColumn> PhotoColumns() {
  return {Col<MediaItem>("ColFileName", "File Name", 200,
                         [](const MediaItem& m) { return ToQ(m.name); }),
          Col<MediaItem>("ColFileSize", "File Size", 0,
                         [](const MediaItem& m) { return Size(m.size); })};
}

std::vector<ResultColumn> MessageAttachmentColumns() {
  return {Col<AttachmentItem>("ColFileName", "File Name", 300,
                              [](const AttachmentItem& a) { return ToQ(a.name); }),
          Col<AttachmentItem>("ColFileSize", "File Size", 0,
                              [](const AttachmentItem& a) { return Size(a.size); })};
}

std::vector<ResultColumn> WhatsAppAttachmentColumns() {
  return {Col<MediaItem>("ColFileName", "File Name", 300,
                         [](const MediaItem& m) { return ToQ(m.name); }),
          Col<MediaItem>("ColFileSize", "File Size", 0,
                         [](const MediaItem& m) { return Size(m.size); })};
}

// An app of the app list is a folder of files, opened by a click.
std::vector<ResultColumn> AppColumns() {
  return {
      Col<StatNode>("ColAppName", "App Name", 300, [](const StatNode& n) { return ToQ(n.label); }),
      Col<StatNode>("ColType", "Type", 0,
                    [](const StatNode&) { return QStringLiteral("Folder"); })};
}

std::vector<ResultColumn> AppFileColumns() {
  return {
      Col<AppMediaItem>("ColFileName", "File Name", 300,
                        [](const AppMediaItem& a) { return ToQ(a.name); }),
      Col<AppMediaItem>("ColAppName", "App Name", 200,
                        [](const AppMediaItem& a) { return ToQ(a.app); }),
      Col<AppMediaItem>("ColSize", "Size", 0, [](const AppMediaItem& a) { return Size(a.size); })};
}

struct Table {
  std::array<std::vector<ResultColumn>, kCategoryCount> records;
  std::vector<ResultColumn> apps, appFiles, none;
};

const Table& Columns() {
  static const Table table = [] {
    Table t;
    auto at = [&t](Category c) -> std::vector<ResultColumn>& {
      return t.records[static_cast<std::size_t>(c)];
    };
    at(Category::CameraRoll) = PhotoColumns();
    at(Category::PhotoStream) = PhotoColumns();
    at(Category::AppPhotos) = AppFileColumns();
    at(Category::AppVideos) = AppFileColumns();
    at(Category::Messages) = MessageColumns();
    at(Category::MessageAttachments) = MessageAttachmentColumns();
    at(Category::Contacts) = ContactColumns();
    at(Category::CallHistory) = CallColumns();
    at(Category::Notes) = NoteColumns();
    at(Category::WhatsApp) = ChatColumns();
    at(Category::WhatsAppAttachments) = WhatsAppAttachmentColumns();
    at(Category::Reminder) = ReminderColumns();
    at(Category::Calendar) = EventColumns();
    at(Category::SafariBookmark) = BookmarkColumns();
    at(Category::WeChat) = ChatAppColumns();
    at(Category::QQ) = ChatAppColumns();
    t.apps = AppColumns();
    t.appFiles = AppFileColumns();
    return t;
  }();
  return table;
}

}  // namespace

const std::vector<ResultColumn>& ResultColumns(Category c, ResultView view) {
  const Table& t = Columns();
  const bool apps = c == Category::AppPhotos || c == Category::AppVideos;
  if (apps && view == ResultView::kApps) return t.apps;
  if (apps) return t.appFiles;
  const auto index = static_cast<std::size_t>(c);
  return index < t.records.size() ? t.records[index] : t.none;
}

QString OneLine(QString text) {
  for (QChar& ch : text)
    if (ch == QLatin1Char('\n') || ch == QLatin1Char('\r') || ch == QChar::LineSeparator ||
        ch == QChar::ParagraphSeparator)
      ch = QLatin1Char(' ');
  return text;
}

QString FirstLine(const QString& text) {
  const qsizetype end = text.indexOf(QLatin1Char('\n'));
  QString line = end < 0 ? text : text.left(end);
  if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
  return line;
}

}  // namespace bv
