#include "scene/animationplayer.h"

#include "picture/animationdecoder.h"
#include "platform/workpools.h"

#include <QCoreApplication>
#include <QPointer>
#include <QRunnable>
#include <QThreadPool>

#include <algorithm>
#include <cmath>

struct AnimationPlayer::Shared {
    explicit Shared(const QByteArray &bytes)
        : decoder(bytes)
    {
    }
    // Used by one decoding at a time: the player starts the next only when the last returned.
    AnimationDecoder decoder;
};

AnimationPlayer::AnimationPlayer(const QByteArray &bytes, QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>(bytes))
{
    AnimationDecoder &decoder = m_shared->decoder;
    if (decoder.isValid())
        m_frameCount = decoder.frameCount();
    m_delays.reserve(m_frameCount);
    for (int i = 0; i < m_frameCount; ++i)
        m_delays.append(decoder.frameDelay(i));
    // Playing forward needs the frame ahead only; the few kept besides serve stepping back.
    decoder.setCacheFrames(4);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &AnimationPlayer::tick);
}

AnimationPlayer::~AnimationPlayer() = default;

int AnimationPlayer::frameDelay(int index) const
{
    return index >= 0 && index < m_delays.size() ? m_delays.at(index) : 0;
}

void AnimationPlayer::setPlayback(const ItemRecord::Playback &playback)
{
    m_playback.speed = std::clamp(
        playback.speed, ItemRecord::Playback::SlowestSpeed, ItemRecord::Playback::FastestSpeed);
    m_playback.loops = playback.loops;
    m_playback.playing = playback.playing && isValid();
    m_timer.stop();
    m_awaitingPaint = m_playback.playing;
    // A frame past the end comes from a file that changed or was cut short: its last is shown.
    const int frame = std::clamp(playback.frame, 0, std::max(0, m_frameCount - 1));
    if (frame != m_playback.frame || m_image.isNull())
        show(frame);
    else if (frameShown)
        frameShown();
}

QPixmap AnimationPlayer::currentPixmap()
{
    if (m_pixmap.isNull() && !m_image.isNull())
        m_pixmap = QPixmap::fromImage(m_image);
    return m_pixmap;
}

void AnimationPlayer::setPlaying(bool playing)
{
    playing = playing && isValid();
    if (playing == m_playback.playing)
        return;
    m_playback.playing = playing;
    m_timer.stop();
    if (playing) {
        // Played again from its end, an animation that does not loop starts over.
        if (!m_playback.loops && m_playback.frame == m_frameCount - 1)
            show(0);
        m_awaitingPaint = true;
    }
    if (frameShown)
        frameShown();
}

void AnimationPlayer::setSpeed(double speed)
{
    m_playback.speed
        = std::clamp(speed, ItemRecord::Playback::SlowestSpeed, ItemRecord::Playback::FastestSpeed);
    if (frameShown)
        frameShown();
}

void AnimationPlayer::setLoops(bool loops)
{
    m_playback.loops = loops;
    if (frameShown)
        frameShown();
}

void AnimationPlayer::step(int delta)
{
    if (!isValid())
        return;
    m_playback.playing = false;
    m_timer.stop();
    const int frame = ((m_playback.frame + delta) % m_frameCount + m_frameCount) % m_frameCount;
    show(frame);
}

void AnimationPlayer::showFirstFrame()
{
    if (!isValid())
        return;
    m_timer.stop();
    m_awaitingPaint = m_playback.playing;
    show(0);
}

void AnimationPlayer::painted()
{
    // The wait for the next frame starts once this one is on the screen: a frame is never
    // skipped, and a player whose item is not painted stays where it is.
    if (!m_playback.playing || !m_awaitingPaint || m_imageIndex != m_playback.frame)
        return;
    m_awaitingPaint = false;
    const double delay = frameDelay(m_playback.frame) / m_playback.speed;
    m_timer.start(std::max(1, int(std::lround(delay))));
}

void AnimationPlayer::tick()
{
    const int next = nextFrame();
    if (next < 0) {
        m_playback.playing = false;
        if (frameShown)
            frameShown();
        return;
    }
    m_awaitingPaint = true;
    show(next);
}

int AnimationPlayer::nextFrame() const
{
    if (m_playback.frame + 1 < m_frameCount)
        return m_playback.frame + 1;
    return m_playback.loops ? 0 : -1;
}

void AnimationPlayer::show(int index)
{
    m_playback.frame = index;
    if (m_aheadIndex == index) {
        m_image = m_ahead;
        m_imageIndex = index;
        m_pixmap = QPixmap();
        m_ahead = QImage();
        m_aheadIndex = -1;
        if (frameShown)
            frameShown();
        if (m_playback.playing) {
            const int next = nextFrame();
            if (next >= 0)
                decode(next);
        }
        return;
    }
    // Until the frame arrives the one before it stays: never an empty picture.
    decode(index);
    if (frameShown)
        frameShown();
}

void AnimationPlayer::decode(int index)
{
    if (m_decoding) {
        m_wanted = index;
        return;
    }
    m_decoding = true;
    m_decodingIndex = index;
    m_wanted = -1;
    const std::shared_ptr<Shared> shared = m_shared;
    const QPointer<AnimationPlayer> player(this);
    QThreadPool::globalInstance()->start(QRunnable::create([shared, player, index] {
        const QImage image = shared->decoder.frame(index);
        // Back on the GUI thread; the player may have gone meanwhile.
        QMetaObject::invokeMethod(QCoreApplication::instance(), [player, index, image] {
            if (player)
                player->decoded(index, image);
        });
    }),
        WorkPools::BackgroundPriority);
}

void AnimationPlayer::decoded(int index, const QImage &image)
{
    m_decoding = false;
    m_decodingIndex = -1;
    const int wanted = m_wanted;
    m_wanted = -1;
    if (index == m_playback.frame) {
        // A frame that does not decode leaves the last one shown.
        if (!image.isNull()) {
            m_image = image;
            m_imageIndex = index;
            m_pixmap = QPixmap();
        }
        if (frameShown)
            frameShown();
        if (wanted >= 0 && wanted != index) {
            decode(wanted);
        } else if (m_playback.playing) {
            const int next = nextFrame();
            if (next >= 0 && next != index)
                decode(next);
        }
        return;
    }
    const bool wantedAhead = m_playback.playing && index == nextFrame();
    if (wantedAhead && !image.isNull()) {
        m_ahead = image;
        m_aheadIndex = index;
    }
    if (wanted >= 0 && wanted != index)
        decode(wanted);
    else if (m_imageIndex != m_playback.frame && index != m_playback.frame)
        decode(m_playback.frame);
}
