#pragma once
// Pop-up windows: the skinned modal base with its three standard buttons, the message
// box in five kinds, and the password dialog. Each has a test seam so that tests of
// other windows can answer it without a modal run. UI-thread only.
#include <functional>
#include <optional>
#include <string>

#include "app/lang/language_store.h"
#include "ui/skin_window.h"

namespace bv {

// A skinned modal window. "okbtn" closes it with 1, "cancelbtn" and "closebtn" with 2;
// any other click goes to OnClick. Texts are relabelled from the window's language
// section at "windowinit". Escape counts as "closebtn", Return is swallowed.
class CPopUpWnd : public ui::CSkinWindow {
 public:
  CPopUpWnd(QWidget* owner, const QString& skinFile, const std::string& languageSection,
            const QString& className = QString());
  // Builds the window at the given size, centres it over the owner and runs it modally.
  int DoModal(int width, int height);
  QWidget* Owner() const { return m_owner; }
  const std::string& LanguageSection() const { return m_section; }
  void Notify(ui::TNotifyUI& msg) override;

 protected:
  // Clicks on anything but the three standard buttons.
  virtual void OnClick(ui::TNotifyUI& msg) { (void)msg; }
  // After the language texts are applied at "windowinit".
  virtual void OnInit() {}
  void OnEscapeKey() override { Close(2); }
  // The shared message texts, as the window keeps them.
  lang::TextSection& Messages();

 private:
  QWidget* m_owner;
  std::string m_section;
};

enum MessageKind {
  kMsgError = 0,
  kMsgConfirm = 1,
  kMsgInformation = 2,
  kMsgWarning = 3,
  kMsgQuestion = 4
};

// The message box: a "title" label and a "message" label on the skin of its kind.
class CMessageBox : public CPopUpWnd {
 public:
  CMessageBox(int kind, QWidget* owner);
  int Kind() const { return m_kind; }
  static QString SkinFileForKind(int kind);
  static std::string DefaultTitleId(int kind);
  void SetTitle(const std::string& title) { m_title = title; }
  void SetMessage(const std::string& text) { m_text = text; }
  // The warning box hides "cancelbtn" unless asked to show it.
  void ShowCancelButton(bool show) { m_showCancel = show; }

 protected:
  void OnInit() override;

 private:
  int m_kind;
  std::string m_title;
  std::string m_text;
  std::optional<bool> m_showCancel;
};

// What a message box was asked to show (handed to a test's responder).
struct MessageBoxRequest {
  int kind = 0;  // after the out-of-range rule: 0..4
  std::string text;
  std::string title;  // the title shown: the given one or the kind's default
  int width = 0;
  int height = 0;
  bool showCancel = false;
  QWidget* owner = nullptr;
};
using MessageBoxResponder = std::function<int(const MessageBoxRequest&)>;
// With a responder set, show_message asks it instead of showing a window.
void SetMessageBoxResponder(MessageBoxResponder responder);

// Shows a message box of `kind` (any other number behaves as error) with `text` and the
// title, or the kind's default title from the Messages section when none is given.
// Returns 1 (OK) or 2 (closed or cancelled).
int show_message(int kind, QWidget* owner, const std::string& text,
                 const std::optional<std::string>& title = std::nullopt, int width = 550,
                 int height = 200, bool showCancel = false);

// The password dialog for encrypted backups.
class CDecryptionWnd : public CPopUpWnd {
 public:
  explicit CDecryptionWnd(QWidget* owner);
  const std::string& Password() const { return m_password; }

 protected:
  void OnInit() override;
  void Notify(ui::TNotifyUI& msg) override;

 private:
  std::string m_password;
};

struct PasswordAnswer {
  int result = 2;  // 1 OK, 2 cancelled or closed
  std::string password;
};
using PasswordResponder = std::function<PasswordAnswer()>;
void SetPasswordResponder(PasswordResponder responder);
// Runs the password dialog at 550 x 270.
PasswordAnswer ask_password(QWidget* owner);

// The platform's folder picker (folders only, with an edit box, no new-folder button);
// nothing when the user cancels.
using FolderPickerResponder = std::function<std::optional<std::string>(const std::string& prompt)>;
void SetFolderPickerResponder(FolderPickerResponder responder);
std::optional<std::string> PickFolder(QWidget* owner, const std::string& prompt);

}  // namespace bv
