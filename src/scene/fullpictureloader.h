#pragma once

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QRect>

#include <atomic>
#include <functional>
#include <memory>

class Picture;

// Decodes the detail of pictures that the view needs in more detail than their overview has (the
// full pixels, or a reduced decode where the picture's source allows one), on the global thread
// pool, a few at a time, newest first, and hands them to their pictures. A
// request still waiting for its turn is dropped when its picture is no longer wanted by then; one
// decoding is stopped when the view asks for something new and no longer wants it. A picture
// that died meanwhile gets nothing. GUI thread only; no destructor waits for the pool.
class FullPictureLoader : public QObject {
    Q_OBJECT

public:
    explicit FullPictureLoader(QObject *parent = nullptr);
    ~FullPictureLoader() override;

    // Whether a picture is still wanted when its turn comes; every picture when not set.
    void setWantedTest(std::function<bool(const Picture *)> wanted);
    // Called when a decoding is about to start and its bytes are reserved in the picture budget:
    // the pictures shown least recently make room for them first, so that the decodings under
    // way never take memory beyond the budget's limit on top of it.
    void setMakeRoom(std::function<void()> makeRoom) { m_makeRoom = std::move(makeRoom); }

    // Asks for detail of at least eighths (8: the full pixels, see Picture::detailEighthsFor),
    // or with a valid region for that rectangle of the full pixels (Picture::setRegion). A
    // picture waiting is asked for the new amount; one decoding is asked again by the next paint
    // that still lacks detail.
    void request(
        const std::shared_ptr<Picture> &picture, int eighths = 8, const QRect &region = {});
    int pendingCount() const { return int(m_waiting.size()) + m_running; }
    // Drops every request still waiting.
    void cancelAll();

signals:
    // The picture's detail is in memory now.
    void loaded();
    // A picture's full pixels could not be had: the message says why.
    void failed(const QString &message);

private:
    struct Shared;
    void startNext();
    struct Result {
        QImage pixels;
        int eighths = 8;
        // Valid for a region.
        QRect region;
        QString error;
        bool busy = false;
        bool canceled = false;
    };
    // Pool: decodes what was asked for.
    static Result decode(
        Picture *picture, int eighths, const QRect &region, const std::atomic_bool *cancel);
    void finish(const Picture *key, const std::weak_ptr<Picture> &picture, const Result &result,
        int askedEighths, const QRect &askedRegion);
    // Stops the decodings under way whose pictures are no longer wanted.
    void cancelUnwanted();

    // The bytes a decoding of the picture will hold.
    static qint64 bytesToDecode(const Picture &picture, int eighths, const QRect &region);

    std::function<void()> m_makeRoom;

    struct Waiting {
        std::weak_ptr<Picture> picture;
        // Only compared: the picture may be gone.
        const Picture *key;
        int eighths;
        QRect region;
    };

    std::shared_ptr<Shared> m_shared;
    QList<Waiting> m_waiting;
    // Waiting or decoding.
    QList<const Picture *> m_busy;
    struct Running {
        std::weak_ptr<Picture> picture;
        std::shared_ptr<std::atomic_bool> cancel;
        qint64 reserved = 0;
    };
    QHash<const Picture *, Running> m_decoding;
    std::function<bool(const Picture *)> m_wanted;
    int m_running = 0;
};
