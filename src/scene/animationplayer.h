#pragma once

#include "scene/itemrecord.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QTimer>

#include <functional>
#include <memory>

// Plays the animation of one picture: decodes its frames on a worker, one ahead of the frame
// shown, and shows each for its delay over the speed. It ticks only while its item is painted:
// a new frame asks the item to repaint (frameShown), and the wait for the frame after it starts
// when the item reports the paint (painted). An item off screen, in a hidden or minimised
// window, is never painted and so costs nothing until it is shown again.
//
// The playback state (frame, speed, playing, looping) is what a board stores; a frame past the
// animation's end, from a damaged or changed file, is taken as its last.
//
// Threads: GUI thread; the decoder runs on the shared pool with background work, one decoding
// at a time, and the player may go while one runs.
class AnimationPlayer : public QObject {
    Q_OBJECT

public:
    // bytes: the animation's file, shared. Check valid() before use.
    explicit AnimationPlayer(const QByteArray &bytes, QObject *parent = nullptr);
    ~AnimationPlayer() override;

    bool isValid() const { return m_frameCount > 1; }
    int frameCount() const { return m_frameCount; }
    int frameDelay(int index) const;

    ItemRecord::Playback playback() const { return m_playback; }
    void setPlayback(const ItemRecord::Playback &playback);

    // The frame to show, and the pixels drawn for it: those of the frame before it while it
    // decodes, null before the first arrives.
    int currentFrame() const { return m_playback.frame; }
    QImage currentImage() const { return m_image; }
    bool showsCurrentFrame() const { return m_imageIndex == m_playback.frame; }
    QPixmap currentPixmap();

    void setPlaying(bool playing);
    void setSpeed(double speed);
    void setLoops(bool loops);
    // Pauses and shows the frame delta frames on, wrapping around at either end.
    void step(int delta);
    void showFirstFrame();

    // Called by the item after it painted the current frame.
    void painted();

    // Called whenever another frame is shown (or the state changed): the item repaints.
    std::function<void()> frameShown;
    // Tests and tools: the decoding asked for last has arrived.
    bool isIdle() const { return !m_decoding; }

private:
    struct Shared;

    void show(int index);
    void decode(int index);
    void decoded(int index, const QImage &image);
    void tick();
    int nextFrame() const;

    std::shared_ptr<Shared> m_shared;
    int m_frameCount = 0;
    QVector<int> m_delays;
    ItemRecord::Playback m_playback;
    // The frame drawn, which is the current one unless that is still decoding.
    QImage m_image;
    int m_imageIndex = -1;
    QPixmap m_pixmap;
    // The frame decoded ahead, and which one it is (-1: none).
    int m_aheadIndex = -1;
    QImage m_ahead;
    // A decoding is running, of this frame; another asked for meanwhile waits its turn.
    bool m_decoding = false;
    int m_decodingIndex = -1;
    int m_wanted = -1;
    QTimer m_timer;
    // Playing, the frame shown waits to be painted before the wait for the next one starts.
    bool m_awaitingPaint = false;
};
