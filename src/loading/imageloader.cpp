#include "loading/imageloader.h"

#include "jobs/loadjob.h"
#include "loading/fetchbatch.h"
#include "loading/htmlimageurls.h"
#include "loading/loadinglog.h"
#include "picture/decoderpool.h"
#include "picture/picture.h"
#include "picture/pictureblock.h"
#include "picture/picturebudget.h"
#include "picture/qdevilplugin.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QFuture>
#include <QImageReader>
#include <QScopeGuard>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

#include <limits>
#include <utility>

namespace {

// The last "."-separated piece of a path or address: its extension, or all of it.
QString lastPiece(const QString &text)
{
    return text.section(QLatin1Char('.'), -1);
}

// The base address of pasted or dropped HTML is the accompanying text when that is a web
// address; anything else would make nonsense of the page's relative addresses.
QString htmlBaseUrl(const QString &text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    return url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty() ? url.toString()
                                                                             : QString();
}

// Only an address a browser can open again is worth keeping: a picture carried in its own
// address ("data:") or named relative to nothing has none.
QString webAddressOrNone(const QString &address)
{
    const QUrl url(address, QUrl::StrictMode);
    const bool web = url.isValid() && !url.host().isEmpty()
        && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
    return web ? address : QString();
}

struct DecodedFile {
    ImageLoader::LoadImageResult result;
    ItemRecord item;
};

} // namespace

struct ImageLoader::LoadState {
    LoadJob *job = nullptr;
    Source source;
    QList<QUrl> localUrls;
    QStringList remoteUrls;
    QList<Kind> queue;
    QStringList files;
    bool filesListed = false;
    QStringList notFound;
    QString message;
};

ImageLoader::ImageLoader(QObject *parent)
    : BaseLoader(parent)
    , m_decoders(std::make_unique<QThreadPool>())
{
    qRegisterMetaType<ImageLoader::Source>("ImageLoader::Source");
    qRegisterMetaType<ImageLoader::LoadImageResult>("ImageLoader::LoadImageResult");
    QDevilPlugin::registerStatically();
    // Decoding is the bulk of a load: every core works on it while this thread hands the
    // finished pictures over in order.
    m_decoders->setMaxThreadCount(qMax(1, QThread::idealThreadCount()));
}

ImageLoader::~ImageLoader() = default;

bool ImageLoader::isSceneFile(const QString &path)
{
    const QString extension = lastPiece(path);
    // BeeRef's boards open the same way, as new boards of ours.
    return extension.compare(QLatin1String("vlk"), Qt::CaseInsensitive) == 0
        || extension.compare(QLatin1String("vlkra"), Qt::CaseInsensitive) == 0
        || extension.compare(QLatin1String("bee"), Qt::CaseInsensitive) == 0;
}

QString ImageLoader::makeName(const QString &path)
{
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return QStringLiteral("Untitled");
    const QString &last = parts.last();
    return last.contains(QLatin1Char('.')) ? last.section(QLatin1Char('.'), 0, -2) : last;
}

void ImageLoader::setAutoDownscale(bool autoDownscale)
{
    m_autoDownscale = autoDownscale;
}

void ImageLoader::setAutoDownscaleMaxWidth(int maxWidth)
{
    m_autoDownscaleMaxSize.setWidth(maxWidth);
}

void ImageLoader::setAutoDownscaleMaxHeight(int maxHeight)
{
    m_autoDownscaleMaxSize.setHeight(maxHeight);
}

void ImageLoader::setKeepOriginals(bool keep)
{
    m_keepOriginals = keep;
}

void ImageLoader::setDefaultNoteColor(const QColor &color)
{
    m_defaultNoteColor = color;
}

void ImageLoader::load(const QStringList &urls, float x, float y, LoadJob *loadJob)
{
    Source source;
    for (const QString &path : urls)
        source.urls.append(QUrl::fromLocalFile(path));
    source.position = QPointF(x, y);
    load(source, loadJob);
}

void ImageLoader::load(const ImageLoader::Source &source, LoadJob *loadJob)
{
    // Behind the load under way and any already waiting; see m_waitingLoads.
    if ((m_loading || !m_waitingLoads.isEmpty()) && !m_startingWaitingLoad) {
        m_waitingLoads.append({ source, loadJob });
        return;
    }
    m_startingWaitingLoad = false;
    m_loading = true;
    const auto nextLoad = qScopeGuard([this] {
        m_loading = false;
        startWaitingLoad();
    });

    LoadJob *job = ensureJob(loadJob);
    reportStarted(job, tr("Loading images"));

    LoadState state;
    state.job = job;
    state.source = source;
    m_refused.clear();
    for (const QUrl &url : source.urls) {
        if (url.isLocalFile())
            state.localUrls.append(url);
        else if (!url.isEmpty())
            state.remoteUrls.append(url.toString());
    }

    if (!state.localUrls.isEmpty())
        state.queue.append(Kind::LocalFiles);
    if (!source.html.isNull())
        state.queue.append(Kind::Html);
    if (!source.image.isNull() || !source.imageBytes.isEmpty())
        state.queue.append(Kind::ImageData);
    if (!state.remoteUrls.isEmpty())
        state.queue.append(Kind::RemoteUrls);
    if (!source.text.isEmpty()
        && (source.urls.isEmpty() || QUrl::fromUserInput(source.text) != source.urls.first())) {
        state.queue.append(Kind::Text);
    }

    while (!state.queue.isEmpty()) {
        bool loaded = false;
        switch (state.queue.takeFirst()) {
        case Kind::LocalFiles: {
            const Outcome outcome = loadLocalFiles(state);
            if (outcome == Outcome::Ended)
                return;
            loaded = outcome == Outcome::Loaded;
            break;
        }
        case Kind::Html:
            loaded = loadHtml(
                source.html, htmlBaseUrl(source.text), source.pageAddress, source.position, job);
            break;
        case Kind::ImageData: {
            QImage image = source.image;
            QByteArray original;
            if (image.isNull()) {
                const LoadImageResult result
                    = DecoderPool::instance().decodeData(source.imageBytes, source.imageFormat,
                        false, QSize(), &image, m_keepOriginals ? &original : nullptr);
                if (result.code != LoadImageResult::Loaded)
                    qCDebug(lcLoading, "Dropped picture: %s", qUtf8Printable(result.message));
                noteRefused(tr("The dropped or pasted picture"), result);
            }
            const QString sourcePath
                = source.html.isNull() ? QString() : HtmlImageUrls::firstImageUrl(source.html);
            loaded = makeImageItem(image, source.position, sourcePath, makeName(sourcePath), job,
                original, { sourcePath, source.pageAddress });
            break;
        }
        case Kind::RemoteUrls:
            loaded = loadRemoteUrls(state);
            break;
        case Kind::Text:
            loaded = loadText(state);
            break;
        }
        if (job->isCanceled()) {
            reportFinished(job);
            return;
        }
        if (loaded)
            break;
    }
    QString message = state.message;
    if (!m_refused.isEmpty()) {
        message = state.notFound.isEmpty()
            ? tr("Some pictures are too large to load.")
            : tr("Could not find some files, and some pictures are too large to load.");
    }
    reportFinished(
        job, message, (state.notFound + std::exchange(m_refused, {})).join(QLatin1String("\n\n")));
}

ImageLoader::Outcome ImageLoader::loadLocalFiles(LoadState &state)
{
    if (!state.filesListed) {
        state.filesListed = true;
        for (const QUrl &url : qAsConst(state.localUrls)) {
            const QString path = url.toLocalFile();
            if (isSceneFile(path)) {
                emit vlkFileFound(path);
                reportFinished(state.job);
                return Outcome::Ended;
            }
            const QFileInfo info(path);
            if (!info.exists()) {
                state.notFound.append(path);
                state.message = tr("Could not find some files.");
            } else if (info.isDir()) {
                QDirIterator it(
                    path, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
                while (it.hasNext())
                    state.files.append(it.next());
            } else {
                state.files.append(path);
            }
        }
    }
    reportProgressRange(state.job, 0, state.files.size());

    QString sourceOverride;
    if (state.files.size() == 1 && !state.source.html.isNull()) {
        // A picture dropped from a browser comes as a temporary file and the page's HTML. When
        // the two disagree on the kind of file, the pictures the HTML names are fetched first and
        // the file is the fallback.
        const QString address = HtmlImageUrls::firstImageUrl(state.source.html);
        const int html = state.queue.indexOf(Kind::Html);
        if (html >= 0 && lastPiece(address) != lastPiece(state.files.first())) {
            state.queue.insert(html + 1, Kind::LocalFiles);
            return Outcome::Continue;
        }
        sourceOverride = address;
    }

    const bool loaded = loadFiles(state, state.files, sourceOverride);
    if (state.job->isCanceled()) {
        reportFinished(state.job);
        return Outcome::Ended;
    }
    return loaded ? Outcome::Loaded : Outcome::Continue;
}

bool ImageLoader::loadFiles(
    LoadState &state, const QStringList &files, const QString &sourceOverride)
{
    const bool autoDownscale = m_autoDownscale;
    const QSize maxSize = m_autoDownscaleMaxSize;
    const bool keep = m_keepOriginals;
    const auto decode = [this, autoDownscale, maxSize, keep](const QString &path) {
        return QtConcurrent::run(m_decoders.get(), [path, autoDownscale, maxSize, keep] {
            DecodedFile file;
            if (keep) {
                file.item = jpegRecord(path, autoDownscale, maxSize);
                if (file.item.picture) {
                    file.result.code = LoadImageResult::Loaded;
                    return file;
                }
            }
            QImage image;
            QByteArray original;
            file.result = PictureFile::load(
                path, autoDownscale, maxSize, &image, keep ? &original : nullptr);
            if (file.result.code == LoadImageResult::Loaded)
                file.item = pictureRecord(image, original, autoDownscale, maxSize, keep);
            return file;
        });
    };

    // A bounded number of files decode ahead of the one being handed over, so memory stays
    // bounded however many files a folder holds.
    const int ahead = 2 * m_decoders->maxThreadCount();
    QVector<QFuture<DecodedFile>> decoding(files.size());
    int submitted = 0;
    for (; submitted < qMin(ahead, files.size()); ++submitted)
        decoding[submitted] = decode(files.at(submitted));

    bool loaded = false;
    for (int i = 0; i < files.size(); ++i) {
        if (state.job->isCanceled())
            break;
        DecodedFile file = decoding[i].result();
        decoding[i] = QFuture<DecodedFile>();
        if (submitted < files.size()) {
            decoding[submitted] = decode(files.at(submitted));
            ++submitted;
        }
        const QString &path = files.at(i);
        if (file.result.code == LoadImageResult::Loaded) {
            const WebOrigin origin = sourceOverride.isEmpty()
                ? WebOrigin()
                : WebOrigin { sourceOverride, state.source.pageAddress };
            loaded |= makeImageItem(std::move(file.item), state.source.position,
                sourceOverride.isEmpty() ? path : sourceOverride, makeName(path), state.job,
                origin);
        } else if (file.result.code == LoadImageResult::Refused) {
            qCWarning(
                lcLoading, "%s: %s", qUtf8Printable(path), qUtf8Printable(file.result.message));
            noteRefused(QDir::toNativeSeparators(path), file.result);
        } else {
            qCDebug(lcLoading, "%s: %s", qUtf8Printable(path), qUtf8Printable(file.result.message));
        }
        reportProgress(state.job, i + 1);
    }
    // Files still decoding after a cancel finish on their own; their pictures are dropped.
    return loaded;
}

bool ImageLoader::loadRemoteUrls(LoadState &state)
{
    bool loaded = false;
    const QPointF position = state.source.position;
    LoadJob *job = state.job;
    for (const QString &url : qAsConst(state.remoteUrls)) {
        if (job->isCanceled())
            break;
        // A picture dragged out of a page came from that page; one whose address turns out to
        // be a page was found on it.
        const QString page = state.source.pageAddress;
        FetchBatch batch(this, job, { url },
            [this, page, position, job](const QByteArray &body, const QString &address) {
                return makeDownloadedItem(body, address, page, position, job);
            });
        batch.setPageAddress(url, [this, position, job](const QString &html, const QString &base) {
            return loadHtml(html, base, base, position, job);
        });
        loaded |= batch.run();
    }
    return loaded;
}

bool ImageLoader::loadHtml(const QString &html, const QString &baseUrl, const QString &pageAddress,
    const QPointF &position, LoadJob *job)
{
    const QStringList urls = HtmlImageUrls::extractImageUrls(html, baseUrl);
    if (urls.isEmpty())
        return false;
    FetchBatch batch(this, job, urls,
        [this, pageAddress, position, job](const QByteArray &body, const QString &address) {
            return makeDownloadedItem(body, address, pageAddress, position, job);
        });
    return batch.run();
}

bool ImageLoader::makeDownloadedItem(const QByteArray &body, const QString &address,
    const QString &pageAddress, const QPointF &position, LoadJob *job)
{
    QByteArray original;
    QImage image = decodeDownload(body, address, &original);
    return makeImageItem(std::move(image), position, address, makeName(address), job, original,
        { address, pageAddress });
}

bool ImageLoader::loadText(LoadState &state)
{
    const QString &text = state.source.text;
    const QUrl url = QUrl::fromUserInput(text);
    if (url.isValid() && (text.contains(QLatin1Char('.')) || text.contains(QLatin1Char('/')))) {
        if (url.isLocalFile()) {
            state.localUrls = { url };
            state.files.clear();
            state.filesListed = false;
            state.queue.prepend(Kind::LocalFiles);
        } else {
            state.remoteUrls = QStringList { url.toString() };
            state.queue.prepend(Kind::RemoteUrls);
        }
        return false;
    }
    return makeNote(text, state.source.position, state.job);
}

bool ImageLoader::makeNote(const QString &text, const QPointF &position, LoadJob *job)
{
    ItemRecord note;
    note.type = ItemRecord::Type::Note;
    note.position = position;
    note.text = text;
    note.textColor = m_defaultNoteColor;
    reportItem(job, note);
    return true;
}

bool ImageLoader::makeImageItem(
    const QImage &image, const QPointF &position, const QString &sourcePath, LoadJob *job)
{
    return makeImageItem(image, position, sourcePath, makeName(sourcePath), job);
}

// Downloads decode in a helper like files; the address's extension is only a hint.
QImage ImageLoader::decodeDownload(
    const QByteArray &body, const QString &address, QByteArray *original)
{
    QImage image;
    const QByteArray hint = QUrl(address).fileName().section(QLatin1Char('.'), -1).toLatin1();
    const LoadImageResult result = DecoderPool::instance().decodeData(
        body, hint, false, QSize(), &image, m_keepOriginals ? original : nullptr);
    if (result.code != LoadImageResult::Loaded)
        qCDebug(lcLoading, "%s: %s", qUtf8Printable(address), qUtf8Printable(result.message));
    noteRefused(address, result);
    return image;
}

void ImageLoader::noteRefused(const QString &what, const LoadImageResult &result)
{
    if (result.code == LoadImageResult::Refused)
        m_refused.append(what + QLatin1String(": ") + result.message);
}

bool ImageLoader::makeImageItem(QImage image, const QPointF &position, const QString &sourcePath,
    const QString &name, LoadJob *job, const QByteArray &original, const WebOrigin &origin)
{
    if (image.isNull())
        return false;
    return makeImageItem(
        pictureRecord(image, original, m_autoDownscale, m_autoDownscaleMaxSize, m_keepOriginals),
        position, sourcePath, name, job, origin);
}

ItemRecord ImageLoader::pictureRecord(const QImage &decoded, const QByteArray &original,
    bool autoDownscale, const QSize &maxSize, bool keepOriginals)
{
    ItemRecord item;
    if (decoded.isNull())
        return item;
    item.autoDownscaled = autoDownscale;
    item.downscaleLimit = maxSize;
    // Converted here, off the GUI thread, which then only wraps the pixels in a pixmap.
    item.image = PictureFile::toDisplayFormat(
        PictureFile::applyAutoDownscale(decoded, autoDownscale, maxSize));
    // Reduced here, the pixels are no longer what the bytes decode to.
    if (keepOriginals && item.image.size() == decoded.size())
        item.original = original;
    item.picture = Picture::fromPixels(item.image,
        item.original.isEmpty() ? PictureSource() : PictureSource::fromBytes(item.original));
    // When the budget runs short the full pixels go as soon as the picture is on the board,
    // which needs the overview: made here, beside the decoding, rather than later on the GUI's
    // pool one picture after another. A small drop shows its pictures first.
    if (PictureBudget::instance().isOverLimit())
        item.picture->makeOverview();
    return item;
}

ItemRecord ImageLoader::jpegRecord(const QString &path, bool autoDownscale, const QSize &maxSize)
{
    ItemRecord item;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() >= std::numeric_limits<int>::max())
        return item;
    // Every file of a drop comes here first: the toolkit's reader, made to read anything else as
    // JPEG, would print libjpeg's complaint for each.
    const QByteArray head = file.peek(16);
    if (PictureBlock::kindOf(reinterpret_cast<const uchar *>(head.constData()), head.size())
        != PictureBlock::Kind::Jpeg)
        return item;
    QByteArray bytes = file.readAll();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    const QSize size = reader.size();
    // Pixels turned upright or reduced are no longer what the bytes decode to. A picture too
    // large to be had is refused by the decoder, with the reason.
    if (!reader.canRead() || reader.transformation() != QImageIOHandler::TransformationNone
        || PictureFile::wouldDownscale(size, autoDownscale, maxSize)
        || PictureFile::checkSize(size).code != PictureFile::LoadResult::Loaded)
        return item;
    buffer.close();
    item.picture = Picture::fromJpegFile(bytes);
    if (!item.picture || item.picture->size() != size) {
        item.picture.reset();
        return item;
    }
    item.autoDownscaled = autoDownscale;
    item.downscaleLimit = maxSize;
    item.original = bytes;
    return item;
}

bool ImageLoader::makeImageItem(ItemRecord item, const QPointF &position, const QString &sourcePath,
    const QString &name, LoadJob *job, const WebOrigin &origin)
{
    if (item.image.isNull() && !item.picture)
        return false;
    item.position = position;
    item.source = sourcePath;
    item.name = name;
    item.pictureAddress = webAddressOrNone(origin.pictureAddress);
    item.pageAddress = webAddressOrNone(origin.pageAddress);
    reportItem(job, item);
    return true;
}

void ImageLoader::startWaitingLoad()
{
    if (m_waitingLoads.isEmpty())
        return;
    // Posted rather than called, so the finished load's caller and the events queued meanwhile
    // come first.
    QMetaObject::invokeMethod(
        this,
        [this] {
            Q_ASSERT(!m_waitingLoads.isEmpty());
            const WaitingLoad next = m_waitingLoads.takeFirst();
            m_startingWaitingLoad = true;
            load(next.source, next.job);
        },
        Qt::QueuedConnection);
}
