// A board too large to keep decoded: 32 photo-like pictures of 6000 x 4000 pixels, stored as the
// JPEG files they are (quality 90, chroma halved both ways), about 3 GB once decoded. It is opened
// the way the program opens a board without its window (the document asks the reader on its own
// thread, the job controller builds the items), shown in a 1600 x 1000 view, zoomed onto one
// picture at 1:1 and panned across at a zoom where a picture is twice the window's height.
//
//   bench_big_board     the board is generated once, on every core, into big_board/ in the build
//                       tree, and reused while it is whole
//   VELKORA_BIG_BOARD_PHOTOS=FOLDER bench_big_board
//                       also a board of the JPEG photos in FOLDER, made once there too, whose
//                       figures end in "_photos"
//   VELKORA_BIG_BOARD_BUDGET_MB=N
//                       the "Picture Memory" the program runs with (256 MB, the least the
//                       setting takes, unless given): the board must be far larger than the
//                       memory pictures may use, as on the machines it stands for
//
// Figure: open_over_full_decode, from asking for the board until every picture is on it and
// paints itself small without waiting (the load ends later, once the file's checksum is checked),
// with the fitted view rendered about every 50 ms meanwhile (a picture makes its reduced levels
// when first painted), over decoding every block in full on every core with our decoder (median of
// three). Figure: rss_over_decoded, the peak resident memory while the board opens, is shown whole
// and is panned across, each step of the pan waiting a while for a frame that shows the pictures in
// view with all the detail the zoom needs, over the bytes of every picture decoded.
// Figure: zoom_full_over_decode, from zooming onto one of the largest pictures at 1:1, just
// after the board opened, until a frame shows its full pixels, over decoding that picture's
// block alone (median of three).

#include "benchmedian.h"
#include "benchmemory.h"
#include "benchoriginals.h"
#include "benchpictures.h"
#include "benchsceneloading.h"

#include "app/commandlineprompter.h"
#include "app/jobcontroller.h"
#include "app/scenedocument.h"
#include "commands/commandhandler.h"
#include "jobs/loadjob.h"
#include "persistence/savefileformat.h"
#include "persistence/savefileloader.h"
#include "picture/picture.h"
#include "picture/pictureblock.h"
#include "picture/picturebudget.h"
#include "platform/picturememory.h"
#include "platform/platform.h"
#include "platform/workpools.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "scene/scenesnapshot.h"
#include "settings/generalsettings.h"
#include "settings/settingshandler.h"

#include <QApplication>
#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsView>
#include <QImageWriter>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int PictureCount = 32;
constexpr int PictureWidth = 6000;
constexpr int PictureHeight = 4000;
constexpr int JpegQuality = 90;
// Scene units between pictures on the board.
constexpr int Gap = 200;
// A cached board made by another version of this generator is made anew.
constexpr int GeneratorVersion = 2;

constexpr QSize WindowSize(1600, 1000);
constexpr int FrameInterval = 50;
// How often at least what a wait waits for is looked at between frames, in milliseconds: the
// pictures' own signals wake the wait sooner, but a reading is never late by more.
constexpr int CheckInterval = 10;
// Bounds of the waits, in milliseconds: far beyond what a working program needs, they only keep
// a broken one from hanging the run. A pan step gives up sooner: a picture that never gets its
// full pixels at the pan's zoom still lets the pan cover the board in a few minutes.
constexpr qint64 OpenLimit = 300000;
constexpr qint64 ZoomLimit = 30000;
constexpr qint64 StepLimit = 1500;

// Random values on a square lattice, interpolated linearly in between: a grain of about the
// lattice's cell size.
class Lattice {
public:
    Lattice(int width, int height, int cell, int amplitude, QRandomGenerator &random)
        : m_cell(cell)
        , m_columns(width / cell + 2)
        , m_values(size_t(m_columns) * size_t(height / cell + 2))
    {
        for (qint16 &value : m_values)
            value = qint16(int(random.bounded(2 * amplitude + 1)) - amplitude);
    }

    int at(int x, int y) const
    {
        const int dx = x % m_cell;
        const int dy = y % m_cell;
        const qint16 *corner
            = &m_values[size_t(y / m_cell) * size_t(m_columns) + size_t(x / m_cell)];
        const int top = corner[0] * (m_cell - dx) + corner[1] * dx;
        const int bottom = corner[m_columns] * (m_cell - dx) + corner[m_columns + 1] * dx;
        return (top * (m_cell - dy) + bottom * dy) / (m_cell * m_cell);
    }

private:
    int m_cell;
    int m_columns;
    std::vector<qint16> m_values;
};

// A picture that compresses as a camera's picture of a busy scene does, about 2 bits a pixel at
// quality 90: the smooth light and soft shapes of photoLike, a grain of three sizes that comes
// and goes across the picture (sky beside foliage), and sensor noise in every channel. Flat
// colour or pure noise would make decoding far cheaper or far dearer than photos make it.
QImage texturedPhoto(int width, int height, quint32 seed)
{
    QImage image = photoLike(width, height, seed, 16, 0);
    QRandomGenerator random(seed * 7919u + 1u);
    const Lattice fine(width, height, 2, 32, random);
    const Lattice medium(width, height, 7, 32, random);
    const Lattice coarse(width, height, 29, 32, random);
    // Where the grain shows: not at all over about a third of the picture.
    const Lattice busy(width, height, 500, 100, random);
    constexpr int Noise = 8;
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int weight = std::max(0, busy.at(x, y) + 60);
            const int grain = (fine.at(x, y) + medium.at(x, y) + coarse.at(x, y)) * weight / 160;
            const quint32 bits = random.generate();
            const auto channel = [grain, bits](int value, int shift) {
                const int noise = int((bits >> shift) & 0xffu) % (2 * Noise + 1) - Noise;
                return qBound(0, value + grain + noise, 255);
            };
            row[x] = qRgb(
                channel(qRed(row[x]), 0), channel(qGreen(row[x]), 8), channel(qBlue(row[x]), 16));
        }
    }
    return image;
}

// Centres of pictures of the given sizes in rows, left to right with a gap between them, the
// rows about as long as makes the board the shape of the window.
QList<QPointF> rowsOf(const QList<QSize> &sizes)
{
    qreal area = 0;
    for (const QSize &size : sizes)
        area += qreal(size.width() + Gap) * qreal(size.height() + Gap);
    const qreal rowLength = std::sqrt(area * WindowSize.width() / WindowSize.height());
    QList<QPointF> centres;
    qreal x = 0;
    qreal y = 0;
    qreal rowHeight = 0;
    for (const QSize &size : sizes) {
        if (x > 0 && x + size.width() / 2.0 > rowLength) {
            x = 0;
            y += rowHeight + Gap;
            rowHeight = 0;
        }
        centres.append(QPointF(x + size.width() / 2.0, y + size.height() / 2.0));
        x += size.width() + Gap;
        rowHeight = std::max<qreal>(rowHeight, size.height());
    }
    return centres;
}

// A board file as this benchmark sees it: its picture blocks (index entries of blocks that hold
// a picture of their own) and what they decode to.
struct Board {
    QString path;
    QList<ImageRecord> blocks;
    QList<QSize> sizes;
    qint64 decodedBytes = 0;
    qint64 fileBytes = 0;
    int jpegBlocks = 0;
};

// Reads the header and image index of the board at path; false when it is no whole board.
bool readBoard(const QString &path, Board *board)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const SaveFileHeader header = SaveFileFormat::readHeaderFields(&file);
    if (!SaveFileFormat::isValidHeader(header) || !SaveFileFormat::isValidIndex(header))
        return false;
    const qint64 size = file.size();
    const uchar *bytes = size > 0 ? file.map(0, size) : nullptr;
    if (!bytes)
        return false;
    *board = Board();
    board->path = path;
    board->fileBytes = size;
    for (const ImageRecord &record : header.imageRecords) {
        const uchar *data = bytes + record.start;
        const qint64 length = record.end - record.start;
        // Blocks that name the picture of another item, or a file it was linked to, hold none.
        const QSize declared = PictureBlock::declaredSize(data, length);
        if (!declared.isValid())
            continue;
        board->blocks.append(record);
        board->sizes.append(declared);
        board->decodedBytes += qint64(declared.width()) * declared.height() * 4;
        board->jpegBlocks += PictureBlock::kindOf(data, length) == PictureBlock::Kind::Jpeg;
    }
    file.unmap(const_cast<uchar *>(bytes));
    return !board->blocks.isEmpty();
}

// Seconds to decode the given blocks of the board, each in full with our decoder, on a pool with
// a thread for every core; -1 when one fails. The file is mapped, as the program's reader maps
// it, so that the decoders read it from the page cache.
double decodeBlocks(const QString &path, const QList<ImageRecord> &blocks)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const uchar *bytes = file.map(0, file.size());
    if (!bytes)
        return -1;
    QElapsedTimer timer;
    timer.start();
    const QList<bool> decoded = mapOnEveryCore(blocks, [bytes](const ImageRecord &block) {
        PictureBlock::Failure failure = PictureBlock::Failure::Damaged;
        // Dropped at once: the baseline holds no more pictures than it has cores.
        return !PictureBlock::decode(bytes + block.start, block.end - block.start, &failure)
                    .isNull();
    });
    const double seconds = timer.nsecsElapsed() / 1e9;
    file.unmap(const_cast<uchar *>(bytes));
    // Decoding leaves freed pictures waiting for reuse: no part of what opening the board needs.
    PictureMemory::releaseSpares();
    return decoded.contains(false) ? -1 : seconds;
}

// Writes the board through the program's writer, keeping each picture's file as its block;
// returns what went wrong, or nothing.
QString saveBoard(const SceneState &state, const QString &path)
{
    QThread thread;
    auto *loader = new SaveFileLoader;
    loader->moveToThread(&thread);
    QObject::connect(&thread, &QThread::finished, loader, &QObject::deleteLater);
    thread.start();
    LoadJob job(loader);
    QString error;
    QEventLoop loop;
    QObject::connect(&job, &LoadJob::finished, &loop,
        [&error, &loop](const QString &message, const QString &details) {
            error = QString(message + QLatin1Char(' ') + details).trimmed();
            loop.quit();
        });
    QMetaObject::invokeMethod(
        loader,
        [loader, path, state, &job] {
            loader->setPictureStorage(SaveFileLoader::OriginalFiles);
            loader->saveTo(path, QString(), state, &job, 0);
        },
        Qt::QueuedConnection);
    loop.exec();
    thread.quit();
    thread.wait();
    return error;
}

// A board in the cache is reused when the stamp written beside it once it was whole names the
// same pictures and the board's present size.
QString stampPath(const QString &board)
{
    return board + QStringLiteral(".stamp");
}

bool isStamped(const QString &board, const QString &key)
{
    QFile stamp(stampPath(board));
    if (!stamp.open(QIODevice::ReadOnly))
        return false;
    return stamp.readAll()
        == (key + QLatin1Char('\n') + QString::number(QFileInfo(board).size())).toUtf8();
}

bool writeStamp(const QString &board, const QString &key)
{
    QSaveFile stamp(stampPath(board));
    return stamp.open(QIODevice::WriteOnly)
        && stamp.write(
               (key + QLatin1Char('\n') + QString::number(QFileInfo(board).size())).toUtf8())
        > 0
        && stamp.commit();
}

// Saves the board to a file beside path and moves it over path once whole, then stamps it.
bool saveAndStamp(const SceneState &state, const QString &path, const QString &key)
{
    const QString partial = path + QStringLiteral(".part");
    QFile::remove(stampPath(path));
    QFile::remove(partial);
    const QString error = saveBoard(state, partial);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "saving %s failed: %s\n", qPrintable(partial), qPrintable(error));
        return false;
    }
    QFile::remove(path);
    return QFile::rename(partial, path) && writeStamp(path, key);
}

// One picture of the generated board, with the file it is stored as.
ItemRecord generatedPicture(int index, const QPointF &centre)
{
    const QImage picture = texturedPhoto(PictureWidth, PictureHeight, quint32(index + 1));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    // The toolkit's writer leaves the library's default of half the chroma resolution both ways.
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(JpegQuality);
    if (!writer.write(picture))
        return {};
    ItemRecord record;
    record.id = index;
    record.pixelsOwnerId = index;
    record.z = index;
    record.name = QStringLiteral("photo%1").arg(index);
    // A board stores a file only as the exact source of its item's pixels: those are what the
    // reader makes of it.
    PictureBlock::Failure failure = PictureBlock::Failure::Damaged;
    record.image = PictureBlock::decode(
        reinterpret_cast<const uchar *>(jpeg.constData()), jpeg.size(), &failure);
    record.original = jpeg;
    // As the scene hands its pictures to a save: the board keeps their overviews.
    record.picture = Picture::fromPixels(record.image, PictureSource::fromBytes(jpeg));
    // As a board the program saved holds a picture: centred on its item, uncropped.
    const qreal w = PictureWidth;
    const qreal h = PictureHeight;
    record.transform = QTransform::fromTranslate(centre.x(), centre.y());
    record.imageTransform = QTransform::fromTranslate(-w / 2, -h / 2);
    QPainterPath crop;
    crop.addRect(-w / 2, -h / 2, w, h);
    record.cropPath = crop;
    return record;
}

// The generated board in folder, made when it is missing or not whole.
bool generatedBoard(const QString &folder, Board *board)
{
    const QString path = QDir(folder).filePath(QStringLiteral("generated.vlk"));
    const QString key = QStringLiteral("generated v%1: %2 pictures of %3 x %4 at quality %5")
                            .arg(GeneratorVersion)
                            .arg(PictureCount)
                            .arg(PictureWidth)
                            .arg(PictureHeight)
                            .arg(JpegQuality);
    const auto isWhole = [path](Board *read) {
        return readBoard(path, read) && read->blocks.size() == PictureCount
            && read->jpegBlocks == PictureCount
            && read->sizes.count(QSize(PictureWidth, PictureHeight)) == PictureCount;
    };
    if (isStamped(path, key) && isWhole(board)) {
        std::printf("info board %s reused\n", qPrintable(path));
        return true;
    }

    QDir().mkpath(folder);
    QElapsedTimer timer;
    timer.start();
    QList<int> indices;
    QList<QSize> sizes;
    for (int i = 0; i < PictureCount; ++i) {
        indices.append(i);
        sizes.append(QSize(PictureWidth, PictureHeight));
    }
    const QList<QPointF> centres = rowsOf(sizes);
    SceneState state;
    state.items = mapOnEveryCore(
        indices, [&centres](int index) { return generatedPicture(index, centres.at(index)); });
    const bool complete = std::none_of(state.items.cbegin(), state.items.cend(),
        [](const ItemRecord &record) { return record.image.isNull(); });
    state.nextItemId = PictureCount;
    const double generated = timer.nsecsElapsed() / 1e9;
    const bool saved = complete && saveAndStamp(state, path, key);
    state = SceneState();
    PictureMemory::releaseSpares();
    std::printf("info board %s generated on %d cores in %.1f s (pictures %.1f s)\n",
        qPrintable(path), QThread::idealThreadCount(), timer.nsecsElapsed() / 1e9, generated);
    return saved && isWhole(board);
}

// The board of the JPEG photos in a folder, taken in as a drop of the files would take them,
// made in cacheFolder when missing or when the photos changed.
bool photoBoard(const QString &cacheFolder, const QString &photos, Board *board)
{
    const QStringList files = jpegsIn(photos);
    if (files.isEmpty()) {
        std::fprintf(stderr, "no JPEG photos in %s\n", qPrintable(photos));
        return false;
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    for (const QString &file : files) {
        const QFileInfo info(file);
        hash.addData(info.absoluteFilePath().toUtf8());
        hash.addData(QByteArray::number(info.size()));
        hash.addData(QByteArray::number(info.lastModified().toMSecsSinceEpoch()));
    }
    const QString digest = QString::fromLatin1(hash.result().toHex());
    const QString path
        = QDir(cacheFolder).filePath(QStringLiteral("photos-%1.vlk").arg(digest.left(12)));
    const QString key = QStringLiteral("photos v%1: %2").arg(GeneratorVersion).arg(digest);
    if (isStamped(path, key) && readBoard(path, board)) {
        std::printf("info board %s of %s reused\n", qPrintable(path), qPrintable(photos));
        return true;
    }

    // One board of photos is kept at a time: those of other folders, or of these photos before
    // they changed, go.
    QDir cache(cacheFolder);
    cache.mkpath(QStringLiteral("."));
    for (const QString &old : cache.entryList({ QStringLiteral("photos-*") }, QDir::Files))
        cache.remove(old);
    QElapsedTimer timer;
    timer.start();
    const QList<GraphicsItem *> items = intakeFiles(files);
    QList<QSize> sizes;
    for (GraphicsItem *item : items)
        sizes.append(item->sceneBounds().size().toSize());
    const QList<QPointF> centres = rowsOf(sizes);
    for (int i = 0; i < items.size(); ++i)
        items.at(i)->setScenePosition(centres.at(i));
    SceneState state;
    state.items = SceneSnapshot::take(items);
    state.nextItemId = int(items.size());
    const int count = int(items.size());
    qDeleteAll(items);
    const bool saved = count > 0 && saveAndStamp(state, path, key);
    state = SceneState();
    PictureMemory::releaseSpares();
    std::printf("info board %s of %d photos made in %.1f s\n", qPrintable(path), count,
        timer.nsecsElapsed() / 1e9);
    return saved && readBoard(path, board);
}

// Turns the event loop until something happens, or for msecs at most.
void waitForEvents(qint64 msecs)
{
    QEventLoop loop;
    QTimer::singleShot(int(std::max<qint64>(1, msecs)), &loop, &QEventLoop::quit);
    loop.processEvents(QEventLoop::WaitForMoreEvents);
}

// The program's way of opening a board without its window: the document asks the reader, which
// lives on a thread of its own, for the file, and the job controller builds the items of the
// records it reads onto the scene, wired as the window wires them. The scene is shown in a plain
// view set up like the window's, on the offscreen platform.
//
// GUI thread only, as are the document and the controller; the reader reaches them by queued
// signals.
class WindowlessBoard {
public:
    explicit WindowlessBoard(GeneralSettings *settings)
        : m_scene(nullptr, &m_commands)
    {
        m_scene.setZoomQuality(settings->intValue(QStringLiteral("ZoomQuality")));
        m_loader = new SaveFileLoader;
        m_loader->moveToThread(&m_thread);
        QObject::connect(&m_thread, &QThread::finished, m_loader, &QObject::deleteLater);
        m_thread.start();

        JobController::Host jobHost;
        jobHost.showsProgress = [] { return false; };
        jobHost.viewAspect = [] { return float(WindowSize.width()) / WindowSize.height(); };
        m_jobs
            = std::make_unique<JobController>(&m_scene, &m_commands, settings, std::move(jobHost));
        m_jobs->follow(m_loader, JobController::Placement::AsRead, false);

        SceneDocument::Host host;
        // Nothing is saved here.
        host.sceneState = [] { return SceneState(); };
        host.createJob = [this](bool opensFile) {
            m_loading |= opensFile;
            return m_jobs->createJob(m_loader);
        };
        host.isLoading = [this] { return m_loading; };
        host.refuseWhileBusy = [this] { return m_loading; };
        host.clearBoard = [this] {
            m_commands.clear();
            m_scene.clear();
            m_document->clear();
        };
        m_document = std::make_unique<SceneDocument>(m_loader, &m_commands, std::move(host));
        m_document->setPrompter(&m_prompter);
        QObject::connect(m_jobs.get(), &JobController::finished, m_document.get(),
            [this](const QString &message, const QString &details, LoadJob *job) {
                if (!m_document->ownsJob(job))
                    return;
                m_document->jobFinished(job, message, details);
                m_document->runFollowUp(job);
                m_error = QString(message + QLatin1Char(' ') + details).trimmed();
                m_loading = false;
                m_loaded = true;
            });

        m_view.setScene(&m_scene);
        m_view.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        m_view.setOptimizationFlag(QGraphicsView::DontSavePainterState);
        m_view.setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
        m_view.setFrameShape(QFrame::NoFrame);
        m_view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_view.resize(WindowSize);
        m_view.show();
    }

    ~WindowlessBoard()
    {
        m_view.hide();
        m_view.setScene(nullptr);
        // Commands hold items of the scene: they go before the items.
        m_commands.clear();
        m_scene.clear();
        m_thread.quit();
        m_thread.wait();
        m_document.reset();
        m_jobs.reset();
    }

    void open(const QString &path) { m_document->load(path); }
    bool isLoaded() const { return m_loaded; }
    QString error() const { return m_error; }

    QList<GraphicsImageItem *> pictures() const { return pictures(m_scene.items()); }
    QList<GraphicsImageItem *> picturesInView() const
    {
        return pictures(m_view.items(m_view.viewport()->rect()));
    }
    QRectF bounds() const { return m_scene.itemsBoundingRect(); }
    QSizeF visibleSize() const
    {
        return m_view.mapToScene(m_view.viewport()->rect()).boundingRect().size();
    }

    // The view may be centred anywhere around rect.
    void allowAround(const QRectF &rect)
    {
        m_view.setSceneRect(
            rect.adjusted(-rect.width(), -rect.height(), rect.width(), rect.height()));
    }
    // Fits the view to the board whenever the board has grown since: fitting changes the view
    // and asks for a repaint even when it comes to the same, which would wake the waits at once.
    void fitWhole()
    {
        const QRectF board = bounds();
        if (board.isEmpty() || board == m_fitted)
            return;
        m_fitted = board;
        allowAround(board);
        m_view.fitInView(board, Qt::KeepAspectRatio);
    }
    void viewAt(qreal zoom, const QPointF &centre)
    {
        m_fitted = QRectF();
        allowAround(bounds());
        m_view.setTransform(QTransform::fromScale(zoom, zoom));
        m_view.centerOn(centre);
    }
    // One frame of the view, painted now.
    void render()
    {
        m_view.viewport()->repaint();
        ++m_frames;
    }
    int frames() const { return m_frames; }

private:
    static QList<GraphicsImageItem *> pictures(const QList<QGraphicsItem *> &items)
    {
        QList<GraphicsImageItem *> found;
        for (QGraphicsItem *item : items) {
            if (auto *picture = dynamic_cast<GraphicsImageItem *>(item))
                found.append(picture);
        }
        return found;
    }

    CommandHandler m_commands;
    GraphicsScene m_scene;
    QThread m_thread;
    // Lives on m_thread, and is deleted once that has ended.
    SaveFileLoader *m_loader = nullptr;
    CommandLinePrompter m_prompter;
    std::unique_ptr<JobController> m_jobs;
    std::unique_ptr<SceneDocument> m_document;
    QGraphicsView m_view;
    bool m_loading = false;
    bool m_loaded = false;
    QString m_error;
    QRectF m_fitted;
    int m_frames = 0;
};

// The resident memory seen at each frame: the peak when the kernel cannot keep it.
class ResidentSampler {
public:
    void sample() { m_peak = std::max(m_peak, residentBytes()); }
    qint64 peak() const { return m_peak; }

private:
    qint64 m_peak = -1;
};

// Renders a frame every FrameInterval, turning the event loop in between, until done() says so
// or limit milliseconds have passed; false on the limit. done() is asked after every turn and
// before each frame, and a frame follows a true answer at once, so that the end is a frame
// showing what done() waited for.
template<typename Done>
bool renderUntil(WindowlessBoard &board, ResidentSampler &memory, qint64 limit, Done done)
{
    QElapsedTimer timer;
    timer.start();
    QElapsedTimer sinceFrame;
    bool first = true;
    for (;;) {
        const bool finished = done();
        if (finished || first || sinceFrame.elapsed() >= FrameInterval) {
            board.render();
            memory.sample();
            sinceFrame.start();
            first = false;
            if (finished)
                return true;
        }
        if (timer.elapsed() > limit)
            return false;
        waitForEvents(std::min<qint64>(CheckInterval, FrameInterval - sinceFrame.elapsed()));
    }
}

// The figures of one board; suffix ends their names.
bool measure(const Board &board, GeneralSettings *settings, const QString &suffix)
{
    const auto figure = [&suffix](const char *name, double value) {
        std::printf("figure %s%s %.4f\n", name, qPrintable(suffix), value);
    };
    std::printf("info board%s: %d pictures (%d JPEG), %.0f MB in the file, %.0f MB decoded\n",
        qPrintable(suffix), int(board.blocks.size()), board.jpegBlocks, board.fileBytes / 1e6,
        board.decodedBytes / 1e6);

    std::vector<double> decodeTimes;
    for (int run = 0; run < 3; ++run)
        decodeTimes.push_back(decodeBlocks(board.path, board.blocks));
    const double decodeSeconds = median(decodeTimes);
    if (*std::min_element(decodeTimes.cbegin(), decodeTimes.cend()) < 0) {
        std::fprintf(stderr, "a block of %s does not decode\n", qPrintable(board.path));
        return false;
    }

    // The zoom's picture: one of the largest, the middle one among them in the file.
    QList<int> largest;
    qint64 largestArea = 0;
    for (int i = 0; i < board.sizes.size(); ++i) {
        const qint64 area = qint64(board.sizes.at(i).width()) * board.sizes.at(i).height();
        if (area > largestArea)
            largest.clear();
        if (area >= largestArea) {
            largestArea = area;
            largest.append(i);
        }
    }
    const ImageRecord zoomBlock = board.blocks.at(largest.at(largest.size() / 2));
    std::vector<double> singleTimes;
    for (int run = 0; run < 3; ++run)
        singleTimes.push_back(decodeBlocks(board.path, { zoomBlock }));
    const double singleSeconds = median(singleTimes);

    const qint64 residentBefore = residentBytes();
    const bool peakKept = resetPeakResidentBytes();
    ResidentSampler memory;
    memory.sample();

    WindowlessBoard session(settings);
    QElapsedTimer timer;
    timer.start();
    session.open(board.path);
    // The board is shown once every picture is on it and paints itself small; the load goes on
    // until the file's checksum is checked, which the user does not wait for.
    double loadSeconds = 0;
    double openSeconds = 0;
    const int pictureCount = int(board.blocks.size());
    const bool opened = renderUntil(
        session, memory, OpenLimit, [&session, &timer, &loadSeconds, &openSeconds, pictureCount] {
            session.fitWhole();
            if (loadSeconds == 0 && session.isLoaded())
                loadSeconds = timer.nsecsElapsed() / 1e9;
            const QList<GraphicsImageItem *> pictures = session.pictures();
            if (openSeconds == 0 && pictures.size() >= pictureCount
                && std::all_of(pictures.cbegin(), pictures.cend(),
                    [](GraphicsImageItem *picture) { return picture->hasOverview(); }))
                openSeconds = timer.nsecsElapsed() / 1e9;
            return loadSeconds > 0 && openSeconds > 0;
        });
    const int openFrames = session.frames();
    const QList<GraphicsImageItem *> pictures = session.pictures();
    if (!opened || !session.error().isEmpty() || pictures.size() < board.blocks.size()) {
        std::fprintf(stderr, "%s did not open whole within %lld s: %d of %d pictures%s%s\n",
            qPrintable(board.path), OpenLimit / 1000, int(pictures.size()),
            int(board.blocks.size()), session.error().isEmpty() ? "" : ", ",
            qPrintable(session.error()));
        return false;
    }

    const auto found = std::find_if(pictures.cbegin(), pictures.cend(),
        [&zoomBlock](GraphicsImageItem *picture) { return picture->id() == zoomBlock.id; });
    if (found == pictures.cend()) {
        std::fprintf(
            stderr, "no picture of %s has the id %d\n", qPrintable(board.path), zoomBlock.id);
        return false;
    }
    GraphicsImageItem *zoomed = *found;
    timer.start();
    session.viewAt(1.0, zoomed->sceneBoundingRect().center());
    const int framesBeforeZoom = session.frames();
    const bool zoomShown
        = renderUntil(session, memory, ZoomLimit, [&session, zoomed, framesBeforeZoom] {
              return session.frames() > framesBeforeZoom && zoomed->isShownInDetail();
          });
    const double zoomSeconds = timer.nsecsElapsed() / 1e9;

    // The pan: a picture twice the window's height, window-sized steps over the whole board row
    // after row, each row going back the way the last came, as a hand sweeping the board would.
    std::vector<double> heights;
    for (GraphicsImageItem *picture : pictures)
        heights.push_back(picture->sceneBoundingRect().height());
    const qreal panZoom = 2.0 * WindowSize.height() / median(heights);
    const QRectF whole = session.bounds();
    session.viewAt(panZoom, whole.center());
    const QSizeF step = session.visibleSize();
    const int columns = std::max(1, int(std::ceil(whole.width() / step.width())));
    const int rows = std::max(1, int(std::ceil(whole.height() / step.height())));
    int steps = 0;
    int stepsTimedOut = 0;
    timer.start();
    for (int row = 0; row < rows; ++row) {
        for (int i = 0; i < columns; ++i) {
            const int column = row % 2 == 0 ? i : columns - 1 - i;
            session.viewAt(panZoom,
                whole.topLeft()
                    + QPointF((column + 0.5) * step.width(), (row + 0.5) * step.height()));
            ++steps;
            // What the pictures say of their last paint counts once a frame showed them here.
            const int framesBefore = session.frames();
            stepsTimedOut += !renderUntil(session, memory, StepLimit, [&session, framesBefore] {
                const QList<GraphicsImageItem *> shown = session.picturesInView();
                return session.frames() > framesBefore
                    && std::all_of(shown.cbegin(), shown.cend(),
                        [](GraphicsImageItem *picture) { return picture->isShownInDetail(); });
            });
        }
    }
    const double panSeconds = timer.nsecsElapsed() / 1e9;
    const qint64 peak = peakKept ? std::max(peakResidentBytes(), memory.peak()) : memory.peak();

    std::printf("info decoding every block on %d cores %.2f s (median of 3); board shown after "
                "%.2f s, load ended after %.2f s, %d frames\n",
        QThread::idealThreadCount(), decodeSeconds, openSeconds, loadSeconds, openFrames);
    std::printf("info zoom to 1:1 on picture %d (%d x %d): full pixels shown after %.3f s%s, "
                "its block decodes in %.3f s (median of 3)\n",
        zoomBlock.id, board.sizes.at(largest.at(largest.size() / 2)).width(),
        board.sizes.at(largest.at(largest.size() / 2)).height(), zoomSeconds,
        zoomShown ? "" : " (gave up)", singleSeconds);
    std::printf("info pan at zoom %.3f: %d steps of %.0f x %.0f scene units in %.1f s, %d of them "
                "gave up waiting for detail after %.1f s\n",
        panZoom, steps, step.width(), step.height(), panSeconds, stepsTimedOut, StepLimit / 1000.0);
    std::printf("info peak resident %.0f MB (%s), %.0f MB before opening; decoded %.0f MB; "
                "picture budget limit %.0f MB\n",
        peak / 1e6, peakKept ? "kernel's high-water mark" : "sampled each frame",
        residentBefore / 1e6, board.decodedBytes / 1e6, PictureBudget::instance().limit() / 1e6);
    figure("open_over_full_decode", openSeconds / decodeSeconds);
    figure("rss_over_decoded", double(peak) / double(board.decodedBytes));
    figure("zoom_full_over_decode", zoomSeconds / singleSeconds);
    return zoomShown;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The heap as the program sets it up: freed picture-sized blocks go back to the system.
    Platform::returnFreedLargeBlocks();
    QApplication app(argc, argv);
    WorkPools::configure();
    // The program's default settings, not the user's.
    QTemporaryDir settingsFolder;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsFolder.path());
    SettingsHandler handler(QStringLiteral("Bench"));
    GeneralSettings settings;
    bool budgetGiven = false;
    const int budgetMegabytes
        = qEnvironmentVariableIntValue("VELKORA_BIG_BOARD_BUDGET_MB", &budgetGiven);
    PictureBudget::instance().setLimit(qint64(budgetGiven ? budgetMegabytes : 256) << 20);

    const QString cache = QStringLiteral(VELKORA_BENCH_CACHE);
    Board board;
    if (!generatedBoard(cache, &board)) {
        std::fprintf(stderr, "the board could not be made in %s\n", qPrintable(cache));
        return 1;
    }
    bool ok = measure(board, &settings, QString());

    const QString photos = qEnvironmentVariable("VELKORA_BIG_BOARD_PHOTOS");
    if (!photos.isEmpty()) {
        Board photoBoardRead;
        ok = photoBoard(cache, photos, &photoBoardRead)
            && measure(photoBoardRead, &settings, QStringLiteral("_photos")) && ok;
    }
    return ok ? 0 : 1;
}
