#include "app/importcontroller.h"

#include "app/applog.h"
#include "app/jobcontroller.h"
#include "app/selectioncopy.h"
#include "clipboard/copypastehandler.h"
#include "jobs/loadjob.h"
#include "scene/graphicsscene.h"
#include "settings/setting.h"
#include "view/graphicsview.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QRegularExpression>
#include <QThread>
#include <QWidget>

#include <utility>

namespace {

// The page a browser's drag or copy came from, which Firefox offers beside the data: the address
// on the first line, in UTF-16 or UTF-8 depending on the release.
QString pageAddressOf(const QMimeData *mimeData)
{
    const QByteArray bytes = mimeData->data(QStringLiteral("text/x-moz-url-priv"));
    if (bytes.isEmpty())
        return {};
    const bool wide = bytes.size() % 2 == 0 && bytes.size() >= 2 && bytes.at(1) == '\0';
    const QString text = wide
        ? QString(reinterpret_cast<const QChar *>(bytes.constData()), bytes.size() / 2)
        : QString::fromUtf8(bytes);
    return text.section(QLatin1Char('\n'), 0, 0).remove(QChar(0)).trimmed();
}

} // namespace

ImportController::ImportController(GraphicsView *view, JobController *jobs,
    ImageLoader *imageLoader, QThread *worker, Host host, QObject *parent)
    : QObject(parent)
    , m_view(view)
    , m_scene(view->graphicsScene())
    , m_jobs(jobs)
    , m_imageLoader(imageLoader)
    , m_host(std::move(host))
{
    m_copyPaste = new CopyPasteHandler;
    m_copyPaste->moveToThread(worker);
    connect(worker, &QThread::finished, m_copyPaste, &QObject::deleteLater);
    // Pasted items keep their places around the paste point: not packed, one undo step.
    m_jobs->follow(m_copyPaste, JobController::Placement::Placed, true);
    // The instance that copied is gone: paste what other programs would.
    connect(m_copyPaste, &CopyPasteHandler::pasteFallbackRequested, this,
        [this](const QPointF &position) {
            handleDrop(QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard),
                m_view->mapFromScene(position));
        });
}

void ImportController::queueImageLoad(const QList<QUrl> &urls)
{
    if (urls.isEmpty())
        return;
    ImageLoader::Source source;
    source.urls = urls;
    source.position = m_view->mapToScene(m_view->viewport()->rect().center());
    loadSource(source);
}

void ImportController::loadSource(const ImageLoader::Source &source)
{
    m_host.loadingStarted();
    QMetaObject::invokeMethod(m_imageLoader, "load", Qt::QueuedConnection,
        Q_ARG(ImageLoader::Source, source), Q_ARG(LoadJob *, m_jobs->createJob(m_imageLoader)));
}

void ImportController::handleDrop(const QMimeData *mimeData, const QPoint &position)
{
    if (!mimeData)
        return;
    if (m_view->isCanvasLocked()) {
        // While a load runs the lock is the load's, otherwise the user's: the notice says which.
        m_host.refuseEdit();
        return;
    }
    // The mime data belongs to the drag and dies with this call: copy what the loader needs.
    ImageLoader::Source source;
    source.urls = mimeData->urls();
    // A picture from another program is taken as it came and decoded in a helper: its bytes
    // are as untrusted as any file's.
    QStringList imageTypes = mimeData->formats().filter(QRegularExpression("^image/"));
    if (imageTypes.removeAll(QStringLiteral("image/png")))
        imageTypes.prepend(QStringLiteral("image/png"));
    for (const QString &type : qAsConst(imageTypes)) {
        source.imageBytes = mimeData->data(type);
        source.imageFormat = type.mid(6).section(QLatin1Char('+'), 0, 0).toLatin1();
        if (!source.imageBytes.isEmpty())
            break;
    }
    if (source.imageBytes.isEmpty() && mimeData->hasImage())
        source.image = qvariant_cast<QImage>(mimeData->imageData());
    if (mimeData->hasHtml())
        source.html = mimeData->html();
    if (mimeData->hasText())
        source.text = mimeData->text();
    source.pageAddress = pageAddressOf(mimeData);
    source.position = m_view->mapToScene(position);
    // A clipboard whose owner did not answer in time looks empty: say so rather than start a
    // load of nothing that ends without a word.
    if (source.urls.isEmpty() && source.imageBytes.isEmpty() && source.image.isNull()
        && source.html.isEmpty() && source.text.isEmpty()) {
        qCWarning(lcApp, "Paste or drop: no format brought anything (offered: %s).",
            qUtf8Printable(mimeData->formats().join(QLatin1String(", "))));
        m_host.notice(tr("Nothing to paste"));
        return;
    }
    loadSource(source);
    if (m_host.dropFocus->value().toBool()) {
        m_host.window->activateWindow();
        m_host.window->raise();
    }
}

void ImportController::load(const QStringList &paths, float x, float y)
{
    // Scene files found among them are remembered by path: make it independent of the
    // working directory.
    QStringList absolute;
    for (const QString &path : paths) {
        if (!path.isEmpty())
            absolute.append(QFileInfo(path).absoluteFilePath());
    }
    if (absolute.isEmpty())
        return;
    m_host.loadingStarted();
    LoadJob *job = m_jobs->createJob(m_imageLoader);
    // Packing keeps the top-left corner of the new items: centre them afterwards.
    m_jobs->centreItems(job, QPointF(x, y));
    QMetaObject::invokeMethod(m_imageLoader, "load", Qt::QueuedConnection,
        Q_ARG(QStringList, absolute), Q_ARG(float, x), Q_ARG(float, y), Q_ARG(LoadJob *, job));
}

void ImportController::copy()
{
    m_copyPaste->copy(SelectionCopy::take(m_scene));
}

void ImportController::pasteAt(const QPoint &globalPosition)
{
    if (m_host.refuseEdit())
        return;
    const QMimeData *mimeData = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!mimeData)
        return;
    QPoint at = m_view->viewport()->mapFromGlobal(globalPosition);
    if (!m_view->viewport()->rect().contains(at))
        at = m_view->viewport()->rect().center();
    // The toolkit asks the clipboard's owner for its formats and, when no answer comes within
    // its wait, takes the answer for none without keeping it. A copier busy for those seconds
    // had its copy pasted as the plain picture, which the next question found: ask twice, and
    // the same for the copy's bytes.
    if (!mimeData->hasFormat(CopyPasteHandler::MimeType)
        && !mimeData->hasFormat(CopyPasteHandler::MimeType)) {
        handleDrop(mimeData, at);
        return;
    }
    QByteArray copy = mimeData->data(CopyPasteHandler::MimeType);
    if (copy.isEmpty())
        copy = mimeData->data(CopyPasteHandler::MimeType);
    if (copy.isEmpty()) {
        qCWarning(lcApp, "Paste: the clipboard's owner offered a copy of items but gave none.");
        m_host.notice(tr("Nothing pasted: the copy did not arrive"));
        return;
    }
    m_host.loadingStarted();
    QMetaObject::invokeMethod(m_copyPaste, "paste", Qt::QueuedConnection, Q_ARG(QByteArray, copy),
        Q_ARG(QPointF, m_view->mapToScene(at)), Q_ARG(LoadJob *, m_jobs->createJob(m_copyPaste)));
}
