#pragma once
// The small progress window under which a large file is copied out of the backup for
// the preview: the file's name, a progress bar and percentage, and a cancel button that
// asks first (the copy waits at its next report while the question is open) and then
// waits for the copy to stop.
//
// Threads: the window lives on the user-interface thread; the copy runs on its worker.
// The worker's reports take the window's lock and queue what they show.
#include <QString>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "app/popups.h"
#include "catalogue/data_source.h"

namespace bv {

inline constexpr int kPreviewProcessWidth = 500;
inline constexpr int kPreviewProcessHeight = 200;

class CPreviewProcessWnd : public CPopUpWnd {
 public:
  // `backupFile` and `copyPath` are in the data source's own text type; `copyPath`
  // receives the prepared copy's path.
  template <typename Text>
  CPreviewProcessWnd(QWidget* owner, IPhoneRecoveryParse& source, const Text& backupFile,
                     Text& copyPath, QString itemName)
      : CPreviewProcessWnd(owner, std::move(itemName)) {
    m_copy = [&source, &backupFile, &copyPath](ProgressCallback callback, void* user) {
      return source.PreparePreviewCopy(backupFile, copyPath, callback, user);
    };
  }
  ~CPreviewProcessWnd() override;

  // Runs the window modally: 1 when the copy finished, 2 when it was cancelled or
  // returned 2.
  int Run();
  // The copy's own result (valid after Run).
  std::int32_t CopyResult() const { return m_result.load(); }

  // What "BtnCancel", "closebtn" and Escape do.
  void AskCancel();
  int ShownPercent() const { return m_shownPercent; }

 protected:
  void OnInit() override;
  void Notify(ui::TNotifyUI& msg) override;
  void OnEscapeKey() override { AskCancel(); }
  void closeEvent(QCloseEvent* e) override;

 private:
  CPreviewProcessWnd(QWidget* owner, QString itemName);
  static std::int32_t Report(void* user, std::int32_t percent);
  void ShowPercent(int percent);
  void OnCopyEnded();
  std::string Text(const char* id);

  std::function<std::int32_t(ProgressCallback, void*)> m_copy;
  QString m_itemName;
  std::thread m_worker;
  std::mutex m_lock;  // shared by the reports and the cancel question
  std::atomic<bool> m_cancel{false};
  std::atomic<bool> m_done{true};
  std::atomic<std::int32_t> m_result{0};
  std::atomic<int> m_lastPosted{-1};
  int m_shownPercent = 0;
  bool m_closing = false;
  bool m_asking = false;
};

}  // namespace bv
