#include "app/popups.h"

#include <QDir>
#include <QFileDialog>

#include "app/qt_text.h"

#include "ui/ui_controls.h"

namespace bv {

namespace {
MessageBoxResponder g_messageResponder;
PasswordResponder g_passwordResponder;
FolderPickerResponder g_folderResponder;
}  // namespace

// ---- base ------------------------------------------------------------------------

CPopUpWnd::CPopUpWnd(QWidget* owner, const QString& skinFile, const std::string& languageSection,
                     const QString& className)
    : ui::CSkinWindow(owner), m_owner(owner), m_section(languageSection) {
  // A dialog frame without system decoration; the skin draws caption and buttons.
  setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  SetSkinFile(skinFile);
  SetWindowClassName(className);
}

lang::TextSection& CPopUpWnd::Messages() {
  return lang::CLanguageStore::instance().section("Messages");
}

int CPopUpWnd::DoModal(int width, int height) {
  Create();
  resize(width, height);
  CenterOver(m_owner);
  return ShowModal();
}

void CPopUpWnd::Notify(ui::TNotifyUI& msg) {
  if (msg.sType == QLatin1String("windowinit")) {
    lang::CLanguageStore::instance().apply(this, m_section);
    OnInit();
    return;
  }
  if (msg.sType != QLatin1String("click")) return;
  const QString name = msg.SenderName();
  if (name == QLatin1String("closebtn") || name == QLatin1String("cancelbtn"))
    Close(2);
  else if (name == QLatin1String("okbtn"))
    Close(1);
  else
    OnClick(msg);
}

// ---- message box ----------------------------------------------------------------

static int NormaliseKind(int kind) {
  return kind >= kMsgError && kind <= kMsgQuestion ? kind : kMsgError;
}

QString CMessageBox::SkinFileForKind(int kind) {
  switch (NormaliseKind(kind)) {
    case kMsgConfirm:
      return QStringLiteral("xml\\MessageBox_Confirm.xml");
    case kMsgInformation:
      return QStringLiteral("xml\\MessageBox_Information.xml");
    case kMsgWarning:
      return QStringLiteral("xml\\MessageBox_Warning.xml");
    case kMsgQuestion:
      return QStringLiteral("xml\\MessageBox_Question.xml");
    default:
      return QStringLiteral("xml\\MessageBox_Error.xml");
  }
}

std::string CMessageBox::DefaultTitleId(int kind) {
  switch (NormaliseKind(kind)) {
    case kMsgConfirm:
      return "MSG0402";
    case kMsgInformation:
      return "MSG0403";
    case kMsgWarning:
      return "MSG0405";
    case kMsgQuestion:
      return "MSG0404";
    default:
      return "MSG0401";
  }
}

CMessageBox::CMessageBox(int kind, QWidget* owner)
    : CPopUpWnd(owner, SkinFileForKind(kind), "MessageBox"), m_kind(NormaliseKind(kind)) {}

void CMessageBox::OnInit() {
  if (auto* t = FindControl(QStringLiteral("title"))) t->SetText(ToQ(m_title));
  if (auto* m = FindControl(QStringLiteral("message"))) m->SetText(ToQ(m_text));
  if (m_showCancel.has_value())
    if (auto* c = FindControl(QStringLiteral("cancelbtn"))) c->SetVisible(*m_showCancel);
}

void SetMessageBoxResponder(MessageBoxResponder responder) {
  g_messageResponder = std::move(responder);
}

int show_message(int kind, QWidget* owner, const std::string& text,
                 const std::optional<std::string>& title, int width, int height, bool showCancel) {
  MessageBoxRequest req;
  req.kind = NormaliseKind(kind);
  req.text = text;
  lang::CLanguageStore& store = lang::CLanguageStore::instance();
  req.title = title ? *title
                    : lang::CLanguageStore::text(store.section("Messages"),
                                                 CMessageBox::DefaultTitleId(kind));
  req.width = width;
  req.height = height;
  req.showCancel = showCancel;
  req.owner = owner;
  if (g_messageResponder) {
    const int r = g_messageResponder(req);
    return r == 1 ? 1 : 2;
  }
  CMessageBox box(req.kind, owner);
  box.SetTitle(req.title);
  box.SetMessage(req.text);
  if (showCancel) box.ShowCancelButton(true);
  const int r = box.DoModal(width, height);
  return r == 1 ? 1 : 2;
}

// ---- password dialog ------------------------------------------------------------

CDecryptionWnd::CDecryptionWnd(QWidget* owner)
    : CPopUpWnd(owner, QStringLiteral("xml\\DecryptionWnd.xml"), "DecryptionWnd",
                QStringLiteral("UIDecryptionWnd")) {}

void CDecryptionWnd::OnInit() {
  auto* edit = Find<ui::CEditUI>(QStringLiteral("EditPassword"));
  if (!edit) {
    auto* box = Find<ui::CContainerUI>(QStringLiteral("HorLayout"));
    if (!box) return;
    edit = new ui::CEditUI();
    edit->SetManager(this);
    box->Add(edit);
    static const char* kAttrs[][2] = {{"name", "EditPassword"}, {"width", "350"},
                                      {"height", "35"},         {"password", "true"},
                                      {"padding", "5,5,20,0"},  {"textpadding", "10,0,10,0"},
                                      {"maxchar", "256"}};
    // The named style first, then the attributes, as the loader would apply them.
    for (const auto& [k, v] : ui::ParseAttributeList(GetStyle(QStringLiteral("EditBlue"))))
      edit->SetAttribute(k, v);
    for (const auto& a : kAttrs)
      edit->SetAttribute(QString::fromLatin1(a[0]), QString::fromLatin1(a[1]));
    box->Relayout();
  }
  edit->SetFocusToEdit();
}

void CDecryptionWnd::Notify(ui::TNotifyUI& msg) {
  if (msg.sType == QLatin1String("click")) {
    const QString name = msg.SenderName();
    if (name == QLatin1String("BtnOK")) {
      auto* edit = FindControl(QStringLiteral("EditPassword"));
      m_password = edit ? ToUtf8(edit->GetText()) : std::string();
      Close(1);
      return;
    }
    if (name == QLatin1String("BtnCancel")) {
      Close(2);
      return;
    }
    if (name == QLatin1String("BtnRestoreLink")) return;
  }
  CPopUpWnd::Notify(msg);
}

void SetPasswordResponder(PasswordResponder responder) {
  g_passwordResponder = std::move(responder);
}

PasswordAnswer ask_password(QWidget* owner) {
  if (g_passwordResponder) {
    PasswordAnswer a = g_passwordResponder();
    if (a.result != 1) a = PasswordAnswer{};
    return a;
  }
  CDecryptionWnd wnd(owner);
  PasswordAnswer a;
  a.result = wnd.DoModal(550, 270) == 1 ? 1 : 2;
  if (a.result == 1) a.password = wnd.Password();
  return a;
}

// ---- folder picker --------------------------------------------------------------

void SetFolderPickerResponder(FolderPickerResponder responder) {
  g_folderResponder = std::move(responder);
}

std::optional<std::string> PickFolder(QWidget* owner, const std::string& prompt) {
  if (g_folderResponder) return g_folderResponder(prompt);
  QFileDialog dialog(owner, ToQ(prompt), QDir::homePath());
  dialog.setFileMode(QFileDialog::Directory);
  // Folders only, and nothing can be made, renamed or deleted from inside the picker.
  dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks |
                    QFileDialog::ReadOnly);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
  return ToUtf8(chosen.front());
}

}  // namespace bv
