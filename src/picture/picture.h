#pragma once

#include "picture/pictureblock.h"
#include "picture/picturesource.h"

#include <QImage>
#include <QList>
#include <QMutex>
#include <QRect>
#include <QSize>

#include <memory>

// One picture as the board holds it: its size, its overview (the reduced copies drawn when the
// picture is shown small, kept for as long as the picture lives), a source its full pixels can be
// decoded from again, and the full pixels while something needs them. Full pixels are charged to
// the PictureBudget and dropped when it runs short. Pixels that nothing can decode again (pasted,
// reduced, relinked) first get a lossless copy in the cache folder, made on the pool when the
// budget first wants them gone; the copy goes with the picture. Items that show the same pixels
// share one picture.
//
// Thread-safe: loaders make pictures on pool threads, saves read them on the loader thread, the
// GUI thread shows them and decides what stays in memory.
class Picture : public std::enable_shared_from_this<Picture> {
public:
    // The overview: reduced copies for the level factors 0.15 and 0.05, largest first, each 1.5
    // times the size it is drawn at; none for a picture too small to need them. A picture whose
    // source decodes reduced holds a null image in place of the larger one.
    static constexpr int OverviewFirstLevel = 1;
    // Reduced levels are drawn at most at these fractions of the full size.
    static const float LevelFactors[3];
    static QSize levelSize(const QSize &pictureSize, float factor);

    // A picture whose full pixels are in hand; the overview is made when asked for.
    static std::shared_ptr<Picture> fromPixels(QImage full, PictureSource source = {});
    // A picture known by its source alone, with its overview made already.
    static std::shared_ptr<Picture> fromSource(
        PictureSource source, const QSize &size, bool hasAlpha, QList<QImage> overview);
    // The picture of a board's block data[0, length), which lies at start in file: decodes as
    // little as its overview needs and keeps nothing else. Null with the reason in failure when
    // the block holds no picture.
    // stored, storedChecksum: an overview the board kept for the block (storedOverview), used
    // instead of decoding when it was made from these very bytes.
    static std::shared_ptr<Picture> fromBlock(const uchar *data, qint64 length,
        std::shared_ptr<SourceFile> file, qint64 start, PictureBlock::Failure *failure,
        const QByteArray &stored = {}, quint32 storedChecksum = 0);
    // The picture of a JPEG file's bytes, which are its source: decodes its overview at a
    // fraction of its size and nothing else. Null for anything the reduced decoding cannot read
    // (no JPEG, CMYK, damaged), which the caller decodes in full instead. The bytes must decode
    // to the picture as they stand (no orientation to apply).
    static std::shared_ptr<Picture> fromJpegFile(const QByteArray &bytes);
    ~Picture();

    Picture(const Picture &) = delete;
    Picture &operator=(const Picture &) = delete;

    QSize size() const { return m_size; }
    // What decoding from the source holds beside the pixels it gives (JpegDecoder::workingBytes).
    qint64 decodingWorkBytes() const { return m_decodingWorkBytes; }
    bool hasAlpha() const { return m_hasAlpha; }
    qint64 fullBytes() const { return qint64(m_size.width()) * m_size.height() * 4; }

    PictureSource source() const;
    void setSource(const PictureSource &source);

    // The full pixels in memory, or null.
    QImage full() const;
    bool hasFull() const;
    // The full pixels, decoded from the source when they are not in memory (not kept then).
    // Null with a reason in error when they cannot be had. Blocking; any thread.
    QImage pixels(QString *error = nullptr, bool *busy = nullptr,
        const std::atomic_bool *cancel = nullptr) const;
    // Keeps decoded full pixels in memory (the size must match) and charges them.
    void setFull(const QImage &full);
    // Lets the full pixels go when they can be decoded again; false when they are kept, and
    // then a copy to decode them from, or the overview, is being made for the next time.
    bool dropFull();

    // Detail between the overview and the full pixels, for pictures whose source decodes reduced
    // (JPEG): the view shows a picture below its full size from a decode at that scale, which
    // costs a fraction of the full pixels' memory. In eighths of the full size, 8 for the full
    // pixels themselves.
    // The eighths a picture shown at levelOfDetail needs, 8 when only the full pixels serve.
    int detailEighthsFor(qreal levelOfDetail) const;
    // Whether the full pixels, or detail of at least eighths, are in memory; always for 0.
    bool hasDetail(int eighths) const;
    // The reduced detail in memory and its eighths, or null.
    QImage detail(int *eighths) const;
    // Decodes detail of at least eighths, not kept; *gotEighths says what came (8: the full
    // pixels). Blocking; any thread.
    QImage decodeDetail(int eighths, int *gotEighths, QString *error = nullptr,
        bool *busy = nullptr, const std::atomic_bool *cancel = nullptr) const;
    // Keeps decoded detail (8: the full pixels) and charges it, unless as much is held already.
    void setDetail(const QImage &detail, int eighths);
    void dropDetail();

    // A rectangle of the full pixels, for a picture far larger than what the view shows of it at
    // full size: a JPEG decodes only the rows and block columns around it. Charged and dropped
    // as the detail is, superseded by the full pixels.
    // Whether the full pixels, or a region containing rect, are in memory.
    bool hasRegion(const QRect &rect) const;
    // The region in memory and where it lies in the full pixels, or null.
    QImage region(QRect *rect) const;
    // Decodes the pixels inside rect, not kept; *got says which rectangle came (the whole
    // picture when the source decodes nothing less). Blocking; any thread.
    QImage decodeRegion(const QRect &rect, QRect *got, QString *error = nullptr,
        bool *busy = nullptr, const std::atomic_bool *cancel = nullptr) const;
    // Keeps a decoded region (the whole picture: the full pixels) and charges it.
    void setRegion(const QImage &pixels, const QRect &rect);
    void dropRegion();

    QList<QImage> overview() const;
    bool hasOverview() const;
    // Makes the overview from the full pixels when it is missing. Blocking, any thread; the
    // work of one picture's scaling.
    void makeOverview();
    // Takes levels made elsewhere from the full pixels (as overviewOf makes them) as the
    // overview, unless it has one.
    void adoptOverview(const QList<QImage> &levels);
    static QList<QImage> overviewOf(const QImage &full);
    // The overview levels' sizes for a picture of the given size.
    static QList<QSize> overviewSizes(const QSize &size);

    // The overview as a board keeps it beside a JPEG block, so that opening the board again
    // decodes nothing: the smallest level as a JPEG stream. Empty for pictures with transparency
    // or too small for an overview. Made once, with the overview when it is missing; any thread.
    QByteArray storedOverview();

    // After the source failed to give the pixels: nothing asks for them again while it stays.
    void setUnreadable(bool unreadable);
    bool isUnreadable() const;

    // Marks the picture as just shown, so that the budget drops others first.
    void touch() const;
    // The budget's keys of the full pixels and of the reduced detail.
    const void *fullKey() const { return this; }
    const void *detailKey() const { return &m_detail; }
    const void *regionKey() const { return &m_region; }

private:
    Picture(const QSize &size, bool hasAlpha);
    // A JPEG stream's picture with its overview decoded reduced, or taken from stored when that
    // was made from these bytes; null when the reduced decoding cannot read the stream.
    static std::shared_ptr<Picture> fromJpeg(const uchar *data, qint64 length, PictureSource source,
        const QByteArray &stored = {}, bool storedMatches = false);
    // A picture of the given size whose overview is its smallest level as a board kept it
    // (storedOverview), or null when that does not decode to the level's size.
    static std::shared_ptr<Picture> fromStoredOverview(
        const QSize &size, const PictureSource &source, const QByteArray &stored);
    // Each size scaled from the one before, starting from current.
    static QList<QImage> levelsFrom(QImage current, const QList<QSize> &sizes);
    void chargeLocked();
    // Charges the reduced detail or a region, kept under key, which the budget lets go by drop.
    void chargePartLocked(const void *key, const QImage &pixels, void (Picture::*drop)());
    // Lets the reduced detail go; the caller releases its charge outside the lock.
    void takeDetailLocked(QImage *into);
    void takeRegionLocked(QImage *into);
    // Pool: the overview and, for pixels without a source, a copy in the cache folder.
    void prepareToDrop();

    const QSize m_size;
    const bool m_hasAlpha;
    mutable QMutex m_mutex;
    PictureSource m_source;
    QImage m_full;
    QImage m_detail;
    int m_detailEighths = 0;
    QImage m_region;
    QRect m_regionRect;
    QList<QImage> m_overview;
    bool m_overviewDone = false;
    bool m_unreadable = false;
    bool m_preparing = false;
    qint64 m_decodingWorkBytes = 0;
    // storedOverview's result, made on first use; null while not made.
    QByteArray m_storedOverview;
};
