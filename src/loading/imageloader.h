#pragma once

#include "jobs/baseloader.h"
#include "picture/picturefile.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QMetaType>
#include <QPointF>
#include <QSize>
#include <QUrl>

#include <memory>

class QThreadPool;

// Turns what a drop, a paste, a file dialog or the command line brings (files, folders, image
// data, HTML, web addresses, text) into records of image items and notes. Lives on the loader
// thread and is called there by queued invocation; each record goes to the GUI thread through
// itemGenerated, and the GUI thread builds the item. The files of one load are decoded in
// parallel on a pool of the loader's own, and still generated one by one in the order of the
// files.
class ImageLoader : public BaseLoader {
    Q_OBJECT

public:
    struct Source {
        QList<QUrl> urls;
        QImage image;
        // A picture as another program handed it over, with its type's subtype ("png"): decoded
        // in a helper like a file. Used when image is null.
        QByteArray imageBytes;
        QByteArray imageFormat;
        QString html;
        QString text;
        QPointF position;
        // The web page the data was dragged or copied from, when the program that offered it
        // says so: where the pictures it holds were found.
        QString pageAddress;
    };

    // Registered under this name too, which queued calls and older code use.
    using LoadImageResult = PictureFile::LoadResult;

    static constexpr QSize defaultDownscaleSize { 2000, 2000 };

    explicit ImageLoader(QObject *parent = nullptr);
    ~ImageLoader() override;

    bool autoDownscale() const { return m_autoDownscale; }

    static QString makeName(const QString &path);
    // Whether the path names a board, by its extension.
    static bool isSceneFile(const QString &path);

    // Generates an image item at position; false for an empty picture.
    bool makeImageItem(
        const QImage &image, const QPointF &position, const QString &sourcePath, LoadJob *job);

public slots:
    void load(const ImageLoader::Source &source, LoadJob *loadJob = nullptr);
    void load(const QStringList &urls, float x, float y, LoadJob *loadJob = nullptr);
    void setAutoDownscale(bool autoDownscale);
    void setAutoDownscaleMaxWidth(int maxWidth);
    void setAutoDownscaleMaxHeight(int maxHeight);
    void setDefaultNoteColor(const QColor &color);
    // Whether pictures keep the bytes they arrived as, for boards that store them as they are.
    void setKeepOriginals(bool keep);

signals:
    void vlkFileFound(const QString &path);

private:
    enum class Kind { LocalFiles, Html, ImageData, RemoteUrls, Text };
    enum class Outcome { Continue, Loaded, Ended };

    struct LoadState;
    struct WaitingLoad {
        Source source;
        LoadJob *job = nullptr;
    };

    Outcome loadLocalFiles(LoadState &state);
    bool loadFiles(LoadState &state, const QStringList &files, const QString &sourceOverride);
    bool loadRemoteUrls(LoadState &state);
    // pageAddress: the page the HTML is, or came from; empty when unknown.
    bool loadHtml(const QString &html, const QString &baseUrl, const QString &pageAddress,
        const QPointF &position, LoadJob *job);
    bool loadText(LoadState &state);
    bool makeNote(const QString &text, const QPointF &position, LoadJob *job);
    // The addresses tell where a picture from the web came from (ItemRecord).
    struct WebOrigin {
        QString pictureAddress;
        QString pageAddress;
    };
    bool makeImageItem(QImage image, const QPointF &position, const QString &sourcePath,
        const QString &name, LoadJob *job, const QByteArray &original = QByteArray(),
        const WebOrigin &origin = {});
    bool makeImageItem(ItemRecord item, const QPointF &position, const QString &sourcePath,
        const QString &name, LoadJob *job, const WebOrigin &origin = {});
    // The record of a JPEG file that goes on the board as it stands (upright, not reduced, in a
    // colour space our decoder reads): its picture decodes from the file's bytes when needed, and
    // only its overview is decoded now. A record without a picture otherwise.
    static ItemRecord jpegRecord(const QString &path, bool autoDownscale, const QSize &maxSize);
    // The record of decoded pixels as the board shows them: reduced when auto-downscale says so,
    // in the display format, with their picture, and its overview when the picture budget runs
    // short. Any thread: files make theirs where they are decoded, so that many large pictures
    // can be let go of as soon as they are on the board.
    static ItemRecord pictureRecord(const QImage &decoded, const QByteArray &original,
        bool autoDownscale, const QSize &maxSize, bool keepOriginals);
    QImage decodeDownload(const QByteArray &body, const QString &address, QByteArray *original);
    // Makes the item of a downloaded picture found on the page (empty: none).
    bool makeDownloadedItem(const QByteArray &body, const QString &address,
        const QString &pageAddress, const QPointF &position, LoadJob *job);
    // Keeps a picture refused as too large for the load's message: "what: why".
    void noteRefused(const QString &what, const LoadImageResult &result);
    void startWaitingLoad();

    bool m_autoDownscale = false;
    QSize m_autoDownscaleMaxSize = defaultDownscaleSize;
    QColor m_defaultNoteColor = Qt::black;
    bool m_keepOriginals = false;
    // Pictures of the running load refused as too large, "what: why": told when it ends. Files
    // that are no pictures at all go unmentioned, as in a folder full of other files.
    QStringList m_refused;
    std::unique_ptr<QThreadPool> m_decoders;
    // A download waits in an event loop on this thread, which delivers any load queued meanwhile:
    // such a load waits here instead of running inside the one under way, and the loads run one
    // after another in the order they were asked for.
    QList<WaitingLoad> m_waitingLoads;
    bool m_loading = false;
    // Set while a waiting load is started: it is the one whose turn it is.
    bool m_startingWaitingLoad = false;
};

Q_DECLARE_METATYPE(ImageLoader::Source)
