#include "app/media_player.h"

#include <QAudioOutput>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <QVideoWidget>

namespace bv {
namespace {

QString Clock(qint64 ms) {
  const qint64 s = std::max<qint64>(0, ms) / 1000;
  return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

CMediaPlayerUI::CMediaPlayerUI(QWidget* parent)
    : ui::CControlUI(parent),
      m_player(new QMediaPlayer(this)),
      m_audio(new QAudioOutput(this)),
      m_video(new QVideoWidget(this)),
      m_play(new QToolButton(this)),
      m_position(new QSlider(Qt::Horizontal, this)),
      m_volume(new QSlider(Qt::Horizontal, this)),
      m_time(new QLabel(this)) {
  m_player->setAudioOutput(m_audio);
  m_player->setVideoOutput(m_video);
  m_audio->setVolume(0.8f);
  m_volume->setRange(0, 100);
  m_volume->setValue(80);
  m_volume->setFixedWidth(60);
  m_volume->setToolTip(QStringLiteral("Volume"));
  m_position->setRange(0, 0);
  m_play->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
  m_play->setAutoRaise(true);
  m_time->setText(Clock(0));

  auto* bar = new QHBoxLayout;
  bar->setContentsMargins(4, 2, 4, 2);
  bar->addWidget(m_play);
  bar->addWidget(m_position, 1);
  bar->addWidget(m_time);
  bar->addWidget(m_volume);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(m_video, 1);
  column->addStretch(0);
  column->addLayout(bar);

  QObject::connect(m_play, &QToolButton::clicked, this, [this] { TogglePause(); });
  QObject::connect(m_volume, &QSlider::valueChanged, this,
                   [this](int v) { m_audio->setVolume(static_cast<float>(v) / 100.0f); });
  QObject::connect(m_position, &QSlider::sliderPressed, this, [this] { m_dragging = true; });
  QObject::connect(m_position, &QSlider::sliderReleased, this, [this] {
    m_dragging = false;
    m_player->setPosition(m_position->value());
  });
  QObject::connect(m_player, &QMediaPlayer::durationChanged, this,
                   [this](qint64 d) { m_position->setRange(0, static_cast<int>(d)); });
  QObject::connect(m_player, &QMediaPlayer::positionChanged, this, [this](qint64 p) {
    if (!m_dragging) m_position->setValue(static_cast<int>(p));
    m_time->setText(Clock(p));
  });
  QObject::connect(m_player, &QMediaPlayer::playbackStateChanged, this, [this] { ShowState(); });
  QObject::connect(m_player, &QMediaPlayer::errorOccurred, this,
                   [this](QMediaPlayer::Error error, const QString&) {
                     if (error != QMediaPlayer::NoError) Fail();
                   });
  QObject::connect(
      m_player, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::InvalidMedia) Fail();
        if (status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferingMedia ||
            status == QMediaPlayer::BufferedMedia || status == QMediaPlayer::EndOfMedia)
          m_startWatch->stop();
      });
  // Some damaged files never leave the loading state: no error, no picture, no sound.
  // A local file that has not loaded in this time will not play.
  m_startWatch = new QTimer(this);
  m_startWatch->setSingleShot(true);
  m_startWatch->setInterval(15000);
  QObject::connect(m_startWatch, &QTimer::timeout, this, [this] { Fail(); });
}

CMediaPlayerUI::~CMediaPlayerUI() {
  m_onFailure = nullptr;
  m_player->stop();
}

void CMediaPlayerUI::Play(const QString& file, bool video, std::function<void()> onFailure) {
  Stop();
  m_failed = false;
  m_onFailure = std::move(onFailure);
  m_video->setVisible(video);
  m_startWatch->start();
  m_player->setSource(QUrl::fromLocalFile(file));
  // A source that could not even be opened has already failed.
  if (!m_failed) m_player->play();
}

void CMediaPlayerUI::Stop() {
  m_startWatch->stop();
  m_onFailure = nullptr;
  m_player->stop();
  m_player->setSource(QUrl());
  m_position->setRange(0, 0);
  m_time->setText(Clock(0));
}

void CMediaPlayerUI::SetStartTimeout(int ms) {
  m_startWatch->setInterval(ms);
}

void CMediaPlayerUI::TogglePause() {
  if (m_player->playbackState() == QMediaPlayer::PlayingState)
    m_player->pause();
  else if (!m_player->source().isEmpty())
    m_player->play();
}

void CMediaPlayerUI::Fail() {
  if (m_failed) return;
  m_failed = true;
  m_startWatch->stop();
  m_player->stop();
  // Asked once; the callback may show a modal box, so it runs after this signal.
  if (auto callback = std::exchange(m_onFailure, nullptr))
    QMetaObject::invokeMethod(this, std::move(callback), Qt::QueuedConnection);
}

void CMediaPlayerUI::ShowState() {
  const bool playing = m_player->playbackState() == QMediaPlayer::PlayingState;
  m_play->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
}

}  // namespace bv
