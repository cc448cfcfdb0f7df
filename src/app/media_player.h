#pragma once
// The pane's own player for sound and video: a video picture, play/pause, a position
// slider and a volume slider over one QMediaPlayer. Playing happens inside the program,
// so no outside player is started and none has to be ended. UI-thread only.
#include <QMediaPlayer>
#include <QString>
#include <functional>

#include "ui/ui_base.h"

class QAudioOutput;
class QLabel;
class QSlider;
class QTimer;
class QToolButton;
class QVideoWidget;

namespace bv {

class CMediaPlayerUI : public ui::CControlUI {
 public:
  explicit CMediaPlayerUI(QWidget* parent = nullptr);
  ~CMediaPlayerUI() override;
  QString GetClass() const override { return QStringLiteral("MediaPlayerUI"); }

  // Starts playing `file`; the picture area shows only for a video. `onFailure` runs
  // once, on the UI thread, when this file cannot be played (no codec, a broken file).
  void Play(const QString& file, bool video, std::function<void()> onFailure);
  // Stops and lets go of the file (so that it can be replaced or deleted).
  void Stop();
  void TogglePause();

  QMediaPlayer* Player() const { return m_player; }
  QVideoWidget* VideoWidget() const { return m_video; }
  QSlider* PositionSlider() const { return m_position; }
  QSlider* VolumeSlider() const { return m_volume; }
  QToolButton* PlayButton() const { return m_play; }
  // Whether the last Play failed.
  bool Failed() const { return m_failed; }
  // How long a file may stay loading before it counts as one that cannot play.
  void SetStartTimeout(int ms);

 private:
  void Fail();
  void ShowState();

  QMediaPlayer* m_player;
  QAudioOutput* m_audio;
  QVideoWidget* m_video;
  QToolButton* m_play;
  QSlider* m_position;
  QSlider* m_volume;
  QLabel* m_time;
  QTimer* m_startWatch = nullptr;
  std::function<void()> m_onFailure;
  bool m_failed = false;
  bool m_dragging = false;
};

}  // namespace bv
