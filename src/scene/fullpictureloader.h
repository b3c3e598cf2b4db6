#pragma once

#include <QList>
#include <QObject>

#include <functional>
#include <memory>

class Picture;

// Decodes the full pixels of pictures that the view needs in more detail than their overview has,
// on the global thread pool, a few at a time, and hands them to their pictures. A request still
// waiting for its turn is dropped when its picture is no longer on screen by then; one decoding
// already ends and keeps its pixels (the budget decides how long). A picture that died meanwhile
// gets nothing. GUI thread only; no destructor waits for the pool.
class FullPictureLoader : public QObject {
    Q_OBJECT

public:
    explicit FullPictureLoader(QObject *parent = nullptr);
    ~FullPictureLoader() override;

    // Whether a picture is still wanted when its turn comes; every picture when not set.
    void setWantedTest(std::function<bool(const Picture *)> wanted);

    // Nothing happens for a picture already waiting or decoding.
    void request(const std::shared_ptr<Picture> &picture);
    int pendingCount() const { return int(m_waiting.size()) + m_running; }
    // Drops every request still waiting.
    void cancelAll();

signals:
    // The picture's full pixels are in memory now.
    void loaded();
    // A picture's full pixels could not be had: the message says why.
    void failed(const QString &message);

private:
    struct Shared;
    void startNext();
    void finish(const Picture *key, const std::weak_ptr<Picture> &picture, const QImage &full,
        const QString &error);

    struct Waiting {
        std::weak_ptr<Picture> picture;
        // Only compared: the picture may be gone.
        const Picture *key;
    };

    std::shared_ptr<Shared> m_shared;
    QList<Waiting> m_waiting;
    // Waiting or decoding.
    QList<const Picture *> m_busy;
    std::function<bool(const Picture *)> m_wanted;
    int m_running = 0;
};
