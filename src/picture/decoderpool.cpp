#include "picture/decoderpool.h"

#include "picture/imagedecoder.h"
#include "picture/picturelog.h"
#include "picture/qdevilplugin.h"
#include "platform/decoderprocess.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>

#include <cstring>
#include <limits>

namespace {

constexpr char helperName[] = "velkora-decoder";

// Beside the program in a build tree; installed, in the private folder of the program's helpers
// (VELKORA_DECODER_INSTALL_PATH, relative to the program's folder), wherever the installation was
// moved to. A build tree that has neither keeps it where it was built.
QString defaultHelperPath()
{
    const QString chosen = qEnvironmentVariable("VELKORA_DECODER");
    if (!chosen.isEmpty())
        return chosen;
    if (QCoreApplication::instance()) {
        const QString programFolder = QCoreApplication::applicationDirPath() + QLatin1Char('/');
        const QString beside = programFolder + QLatin1String(helperName);
        if (QFileInfo(beside).isExecutable())
            return beside;
#ifdef VELKORA_DECODER_INSTALL_PATH
        const QString installed
            = QFileInfo(programFolder + QLatin1String(VELKORA_DECODER_INSTALL_PATH))
                  .absoluteFilePath();
        if (QFileInfo(installed).isExecutable())
            return installed;
#endif
    }
#ifdef VELKORA_DECODER_BUILD_PATH
    return QStringLiteral(VELKORA_DECODER_BUILD_PATH);
#else
    return QString();
#endif
}

DecoderProtocol::Request makeRequest(
    const QByteArray &formatHint, bool autoDownscale, const QSize &maxSize)
{
    DecoderProtocol::Request request;
    request.flags = autoDownscale ? quint32(DecoderProtocol::AutoDownscale) : 0u;
    request.maxWidth = maxSize.width();
    request.maxHeight = maxSize.height();
    const QByteArray hint = formatHint.left(int(sizeof request.formatHint) - 1);
    std::memcpy(request.formatHint, hint.constData(), size_t(hint.size()));
    return request;
}

} // namespace

struct DecoderPool::Input {
    QString path; // empty for data
    QByteArray data;
    QByteArray formatHint;
};

DecoderPool::DecoderPool()
    : m_maxHelpers(qMax(1, QThread::idealThreadCount()))
{
}

DecoderPool::~DecoderPool() = default;

DecoderPool &DecoderPool::instance()
{
    static DecoderPool pool;
    return pool;
}

PictureFile::LoadResult DecoderPool::decodeFile(const QString &path, bool autoDownscale,
    const QSize &maxSize, QImage *image, QByteArray *original)
{
    return decode({ path, QByteArray(), QFileInfo(path).suffix().toLower().toLatin1() },
        autoDownscale, maxSize, image, original);
}

PictureFile::LoadResult DecoderPool::decodeData(const QByteArray &data,
    const QByteArray &formatHint, bool autoDownscale, const QSize &maxSize, QImage *image,
    QByteArray *original)
{
    return decode(
        { QString(), data, formatHint.toLower() }, autoDownscale, maxSize, image, original);
}

PictureFile::LoadResult DecoderPool::decode(
    Input input, bool autoDownscale, const QSize &maxSize, QImage *image, QByteArray *original)
{
    if (original)
        original->clear();
    // The toolkit's own readers decode here: in a helper they cost a copy of every picture into
    // fresh memory, which is as much as a quarter of a JPEG's or PNG's decoding. Everything else
    // goes to a helper, and so does a picture the toolkit's reader could not make out.
    const QByteArray format = toolkitFormat(input);
    if (!format.isEmpty()) {
        // A picture that may be kept as it came is read whole first, so that the bytes kept are
        // the bytes decoded even should the file change meanwhile. So is every PNG file: our
        // own decoder takes a stream in memory.
        const bool keep = original
            && (format == "jpeg" || format == "png" || format == "webp" || format == "gif");
        if ((keep || format == "png") && !input.path.isEmpty()) {
            QFile file(input.path);
            if (file.open(QIODevice::ReadOnly) && file.size() < std::numeric_limits<int>::max())
                input.data = file.readAll();
        }
        bool asStored = false;
        const PictureFile::LoadResult result = decodeHere(
            input, format, ImageDecoder::ThisFormatOnly, autoDownscale, maxSize, image, &asStored);
        if (result.code == PictureFile::LoadResult::Loaded) {
            if (keep && asStored)
                *original = input.data;
            return result;
        }
        // A reader that knows the picture said how large it is: a helper would refuse it too.
        if (result.code == PictureFile::LoadResult::Refused)
            return result;
        if (!input.path.isEmpty())
            input.data.clear();
    }

    QString startError;
    std::unique_ptr<DecoderProcess> helper = takeHelper(&startError);
    if (!helper && !startError.isEmpty()) {
        return { PictureFile::LoadResult::Unreadable,
            QStringLiteral("The decoder could not be started: %1").arg(startError) };
    }
    if (!helper) {
        // No helper can run here: decode as the program always could, readers and all.
        QDevilPlugin::registerStatically();
        return decodeHere(
            input, input.formatHint, ImageDecoder::AnyReader, autoDownscale, maxSize, image);
    }

    const DecoderProtocol::Request request = makeRequest(input.formatHint, autoDownscale, maxSize);
    int timeout;
    {
        QMutexLocker locker(&m_mutex);
        timeout = m_timeout;
    }
    DecoderProcess::Reply reply = input.path.isEmpty()
        ? helper->decodeData(input.data, request, timeout)
        : helper->decodeFile(input.path, request, timeout);

    if (reply.outcome == DecoderProcess::Reply::Failed) {
        const QString name = input.path.isEmpty() ? QStringLiteral("the data") : input.path;
        qCWarning(lcPicture, "The decoder failed on %s: %s; starting another", qUtf8Printable(name),
            qUtf8Printable(reply.message));
        helper.reset();
        {
            QMutexLocker locker(&m_mutex);
            ++m_statistics.died;
        }
        giveBack(nullptr);
        return { PictureFile::LoadResult::Unreadable,
            QStringLiteral("The decoder failed on %1: %2").arg(name, reply.message) };
    }
    giveBack(std::move(helper));
    if (reply.outcome == DecoderProcess::Reply::Unreadable)
        return { PictureFile::LoadResult::Unreadable, reply.message };
    if (reply.outcome == DecoderProcess::Reply::Refused)
        return { PictureFile::LoadResult::Refused, reply.message };
    *image = std::move(reply.image);
    return {};
}

PictureFile::LoadResult DecoderPool::decodeHere(const Input &input, const QByteArray &format,
    ImageDecoder::Readers readers, bool autoDownscale, const QSize &maxSize, QImage *image,
    bool *asStored)
{
    // A file read whole already decodes from memory.
    QFile file(input.path);
    QBuffer buffer;
    buffer.setData(input.data);
    QIODevice *device = input.data.isEmpty() ? static_cast<QIODevice *>(&file) : &buffer;
    if (!device->open(QIODevice::ReadOnly))
        return { PictureFile::LoadResult::Unreadable, device->errorString() };
    ImageDecoder decoder(device, format, readers);
    const PictureFile::LoadResult result = decoder.read(autoDownscale, maxSize, image);
    if (asStored)
        *asStored = decoder.isAsStored();
    return result;
}

QByteArray DecoderPool::toolkitFormat(const Input &input)
{
    QByteArray head = input.data.left(12);
    if (!input.path.isEmpty()) {
        QFile file(input.path);
        if (file.open(QIODevice::ReadOnly))
            head = file.read(12);
    }
    if (head.startsWith("\x89PNG\r\n\x1a\n"))
        return "png";
    if (head.startsWith("\xff\xd8\xff"))
        return "jpeg";
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return "gif";
    if (head.startsWith("BM"))
        return "bmp";
    if (head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
        return "webp";
    return QByteArray();
}

std::unique_ptr<DecoderProcess> DecoderPool::takeHelper(QString *startError)
{
    QMutexLocker locker(&m_mutex);
    while (!m_helpersFailed && m_idle.empty() && m_busy >= m_maxHelpers)
        m_helperFree.wait(&m_mutex);
    if (m_helpersFailed) {
        ++m_statistics.inProcess;
        return nullptr;
    }
    ++m_busy;
    m_statistics.peakBusy = qMax(m_statistics.peakBusy, m_busy);
    if (!m_idle.empty()) {
        std::unique_ptr<DecoderProcess> helper = std::move(m_idle.back());
        m_idle.pop_back();
        return helper;
    }

    if (m_helperPath.isEmpty())
        m_helperPath = defaultHelperPath();
    const QString path = m_helperPath;
    // Starting takes a while: other threads may take and give back helpers meanwhile.
    locker.unlock();
    QString error;
    std::unique_ptr<DecoderProcess> helper = DecoderProcess::start(path, &error);
    locker.relock();
    if (helper) {
        ++m_statistics.started;
        m_helpersWorked = true;
        return helper;
    }
    --m_busy;
    m_helperFree.wakeAll();
    if (m_helpersWorked) {
        // Helpers have worked here, so this is passing (a program being replaced, no memory
        // for a moment): the picture fails alone, and the next one tries again. Decoding here
        // instead would expose the board to the very faults the helpers keep away.
        *startError = error;
        return nullptr;
    }
    if (!m_helpersFailed) {
        qCWarning(lcPicture,
            "The image decoder %s could not be started (%s): pictures are decoded "
            "in the program itself",
            qUtf8Printable(path), qUtf8Printable(error));
    }
    m_helpersFailed = true;
    ++m_statistics.inProcess;
    return nullptr;
}

void DecoderPool::giveBack(std::unique_ptr<DecoderProcess> helper)
{
    QMutexLocker locker(&m_mutex);
    --m_busy;
    if (helper && int(m_idle.size()) + m_busy < m_maxHelpers)
        m_idle.push_back(std::move(helper));
    m_helperFree.wakeOne();
    // A helper not kept is killed once the lock is released: its end need not hold up anyone.
}

void DecoderPool::setHelperPath(const QString &path)
{
    stopHelpers();
    QMutexLocker locker(&m_mutex);
    m_helperPath = path;
    m_helpersFailed = false;
    m_helpersWorked = false;
}

void DecoderPool::setMaxHelpers(int count)
{
    QMutexLocker locker(&m_mutex);
    m_maxHelpers = qMax(1, count);
    m_helperFree.wakeAll();
}

void DecoderPool::setTimeout(int milliseconds)
{
    QMutexLocker locker(&m_mutex);
    m_timeout = qMax(1, milliseconds);
}

DecoderPool::Statistics DecoderPool::statistics() const
{
    QMutexLocker locker(&m_mutex);
    return m_statistics;
}

void DecoderPool::resetStatistics()
{
    QMutexLocker locker(&m_mutex);
    m_statistics = Statistics();
}

void DecoderPool::stopHelpers()
{
    std::vector<std::unique_ptr<DecoderProcess>> idle;
    {
        QMutexLocker locker(&m_mutex);
        idle.swap(m_idle);
    }
}
