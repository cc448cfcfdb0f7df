#pragma once
// The preview pane of the scan page, registered as its own virtual window. A click on a
// result row hands the row to the pane (ShowRow), which shows it in one of two modes:
// text mode ("PreviewEdit": a note, a picture) or list mode ("MessagesList": the bubbles
// of a conversation or chat, a contact card). Sound and video play in the pane's own
// player ("PreviewMedia"). A call has no preview. UI-thread only.
#include <QColor>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "app/base_vrt_wnd.h"
#include "app/result_rows.h"
#include "catalogue/types.h"
#include "scan/statistics.h"
#include "ui/ui_list.h"

namespace bv {

class CMediaPlayerUI;
class IPhoneRecoveryParse;
namespace ui {
class CRichEditUI;
}

// A row of the result list for the pane. The item stays valid until the scan page
// empties its list (a new scan, "BtnHome"), which calls Clear first.
struct PreviewRow {
  Category category = Category::CameraRoll;
  StatItem item;
};

inline const QColor kSeparatorColor = QColor::fromRgba(0xFFD7D7D7);
inline const QColor kNoteLabelColor = QColor(0x40, 0x40, 0x40);
// Files up to this size are copied for the preview without the progress window.
inline constexpr std::uint64_t kDirectCopyLimit = 65536;
inline constexpr int kPictureRetryMs = 100;
inline constexpr int kPictureRetries = 5;

enum class PreviewMode { kNone, kText, kList, kMedia };
enum class PreviewKind { kNone = 0, kPicture = 1, kSound = 2, kVideo = 3 };

// The kind of a prepared copy, from its extension: the text after the last "." (lower
// case) contained in "jpg", "wav" or "avi".
PreviewKind KindOfCopy(const QString& copyPath);

// The bubbles of one conversation or chat, made only for the rows on screen: row 0 is
// the separator, row i + 1 the i-th message.
class CBubbleRows : public ui::IListElementSource {
 public:
  // A WeChat or QQ message with its chat, whose key names the partner when the message
  // has no sender of its own.
  struct ChatAppMessage {
    const ChatMessageRecord* message = nullptr;
    const ChatAppChat* chat = nullptr;
  };
  using Message = std::variant<const MessageRecord*, const WhatsAppMessageRecord*, ChatAppMessage>;
  enum Kind { kSeparator = 0, kSent = 1, kReceived = 2 };
  static constexpr int kSeparatorHeight = 30;

  explicit CBubbleRows(ui::CSkinWindow& window) : m_window(window) {}
  void Set(std::vector<Message> messages) { m_messages = std::move(messages); }
  int Messages() const { return static_cast<int>(m_messages.size()); }

  // What a message's bubble shows.
  static bool FromMe(const Message& m);
  static bool Deleted(const Message& m);
  static QString Header(const Message& m);
  static QString Text(const Message& m);

  int ElementCount() const override { return Messages() + 1; }
  int ElementKind(int index) const override;
  int ElementHeight(int index) const override;
  ui::CControlUI* BuildElement(int kind) override;
  void FillElement(ui::CControlUI* element, int index) override;

 private:
  ui::CSkinWindow& m_window;
  std::vector<Message> m_messages;
};

class CPreviewVrtWnd : public CBaseVrtWnd {
 public:
  CPreviewVrtWnd(CMainWnd& main, ui::CSkinWindow& window);
  ~CPreviewVrtWnd() override;
  void OnInit() override;
  // Relabels only the controls inside the pane: its section shares names ("LblPercent")
  // with controls of the scan page's header.
  void ApplyTexts() override;
  // The preview-ready message: `param` is the prepared copy's kind.
  void OnPreviewReady(std::int64_t param);

  // The row the user clicked; never fails, whatever the row holds.
  void ShowRow(const PreviewRow& row);
  // Forgets the row (its item is about to go) and stops playing.
  void Clear();
  // Stops sound and video (leaving the page, closing the program).
  void StopMedia();
  const std::optional<PreviewRow>& ShownRow() const { return m_row; }

  // What the pane shows (tests, the screenshot walk).
  PreviewMode Mode() const { return m_mode; }
  PreviewKind PreparedKind() const { return m_kind; }
  const QString& PreparedCopy() const { return m_copy; }
  const CBubbleRows& Bubbles() const { return m_bubbles; }
  int PictureRetries() const { return m_retries; }
  bool PictureShown() const { return m_pictureShown; }
  CMediaPlayerUI* MediaPlayer() const { return m_media; }
  // The result of the last media copy: 1 shown or played, 2 cancelled, 0 nothing to
  // show.
  int LastMediaResult() const { return m_mediaResult; }
  int ProgressWindowsRun() const { return m_progressWindows; }

 private:
  void SetMode(PreviewMode mode);
  void ShowConversation(const MessageRecord& row);
  void ShowChat(const WhatsAppMessageRecord& row);
  void ShowChatApp(const ChatAppChat& row);
  void ShowBubbles(std::vector<CBubbleRows::Message> messages);
  void ShowContact(const ContactRecord& contact);
  void ShowNote(const NoteRecord& note);
  // Reminders, events and bookmarks: their filled fields as labelled lines, the note's way.
  void ShowFields(const std::vector<std::pair<QString, std::string>>& fields, bool deleted);
  template <typename Item>
  void ShowMedia(const Item& item);
  bool TryPicture();
  void OnPictureTimer();
  void PlayFailed();

  std::optional<PreviewRow> m_row;
  PreviewMode m_mode = PreviewMode::kNone;
  PreviewKind m_kind = PreviewKind::kNone;
  QString m_copy;
  int m_retries = 0;
  bool m_pictureShown = false;
  int m_mediaResult = 0;
  int m_progressWindows = 0;
  QTimer m_pictureTimer;
  CBubbleRows m_bubbles;
  ui::CListUI* m_list = nullptr;
  ui::CRichEditUI* m_edit = nullptr;
  CMediaPlayerUI* m_media = nullptr;
};

}  // namespace bv
