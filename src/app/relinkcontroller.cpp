#include "app/relinkcontroller.h"

#include "commands/commandhandler.h"
#include "commands/deletecommand.h"
#include "commands/relinkcommand.h"
#include "jobs/loadjob.h"
#include "picture/picture.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "settings/setting.h"
#include "ui/relinkdialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMap>

RelinkController::RelinkController(Relinker *relinker, Host host, QObject *parent)
    : QObject(parent)
    , m_relinker(relinker)
    , m_host(std::move(host))
{
    if (!m_host.chooseFile) {
        m_host.chooseFile = [this](const QString &title, const QString &start) {
            return QFileDialog::getOpenFileName(m_host.window, title, start);
        };
    }
    if (!m_host.chooseFolder) {
        m_host.chooseFolder = [this](const QString &title, const QString &start) {
            return QFileDialog::getExistingDirectory(m_host.window, title, start);
        };
    }
    connect(m_relinker, &Relinker::imageRelinked, this,
        [this](const QList<int> &ids, const QString &path, const QImage &image,
            const ImageLoader::LoadImageResult &result,
            LoadJob *) { imageRelinked(ids, path, image, result); });
}

RelinkController::~RelinkController()
{
    delete m_dialog;
}

RelinkDialog *RelinkController::dialog() const
{
    return m_dialog;
}

void RelinkController::recordMissing(
    const QString &path, const ImageLoader::LoadImageResult &reason)
{
    m_missing.insert(path, reason);
}

void RelinkController::clear()
{
    m_missing.clear();
    m_relinked.clear();
    m_previousSources.clear();
    delete m_dialog;
}

void RelinkController::openDialog()
{
    QMap<QString, RelinkTree::MissingImage> byPath;
    for (GraphicsImageItem *item : m_host.scene->missingImages()) {
        RelinkTree::MissingImage &image = byPath[item->source()];
        if (image.path.isEmpty()) {
            image.path = item->source();
            image.result = m_missing.value(
                item->source(), { ImageLoader::LoadImageResult::NotFound, QString() });
        }
        image.itemIds.append(item->id());
    }
    delete m_dialog;
    const bool showOnLoad = m_host.showOnLoad && m_host.showOnLoad->value().toBool();
    m_dialog = new RelinkDialog(byPath.values(), showOnLoad, m_host.window);
    m_dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_dialog, &RelinkDialog::relinkRequested, this,
        [this](const RelinkTree::MissingImage &image) {
            QList<GraphicsImageItem *> items;
            for (int id : image.itemIds) {
                if (auto *item = dynamic_cast<GraphicsImageItem *>(m_host.scene->itemById(id)))
                    items.append(item);
            }
            if (!items.isEmpty() && relinkToChosenFile(items) && m_dialog)
                m_dialog->setRelinking(image.itemIds);
        });
    connect(m_dialog, &RelinkDialog::massRelinkRequested, this, &RelinkController::relinkFolder);
    connect(m_dialog, &RelinkDialog::relinkingDone, this, &RelinkController::finish);
    m_dialog->show();
}

bool RelinkController::relinkToChosenFile(const QList<GraphicsImageItem *> &items)
{
    if (items.isEmpty())
        return false;
    const QString source = items.first()->source();
    const QString path = m_host.chooseFile(tr("Relink %0").arg(source), source);
    if (path.isEmpty())
        return false;
    relink(items, path);
    Relinker::Request request;
    request.path = path;
    request.autoDownscale = items.first()->autoDownscaled();
    request.maxSize = items.first()->downscaleLimit();
    for (GraphicsImageItem *item : items)
        request.itemIds.append(item->id());
    start({ request });
    return true;
}

void RelinkController::relink(const QList<GraphicsImageItem *> &items, const QString &path)
{
    for (GraphicsImageItem *item : items) {
        // The file it linked when the relinking began: undo returns to it.
        if (!m_previousSources.contains(item->id()))
            m_previousSources.insert(item->id(), item->source());
        item->setSource(path);
    }
}

void RelinkController::relinkFolder(const RelinkTree::Group &group)
{
    const QString chosen = m_host.chooseFolder(tr("Relink %0").arg(group.path), group.path);
    if (chosen.isEmpty())
        return;
    QList<Relinker::Request> requests;
    const std::function<void(const RelinkTree::Group &)> collect
        = [&](const RelinkTree::Group &folder) {
              for (const RelinkTree::MissingImage &image : folder.images) {
                  Relinker::Request request;
                  request.path = RelinkTree::rebase(image.path, group.path, chosen);
                  QList<GraphicsImageItem *> items;
                  for (int id : image.itemIds) {
                      // Deleted meanwhile: nothing to relink.
                      if (auto *item
                          = dynamic_cast<GraphicsImageItem *>(m_host.scene->itemById(id))) {
                          items.append(item);
                          request.itemIds.append(id);
                      }
                  }
                  if (items.isEmpty())
                      continue;
                  request.autoDownscale = items.first()->autoDownscaled();
                  request.maxSize = items.first()->downscaleLimit();
                  relink(items, request.path);
                  if (m_dialog)
                      m_dialog->setRelinking(request.itemIds);
                  requests.append(request);
              }
              for (const RelinkTree::Group &subgroup : folder.subgroups)
                  collect(subgroup);
          };
    collect(group);
    start(requests);
}

void RelinkController::start(const QList<Relinker::Request> &requests)
{
    if (requests.isEmpty())
        return;
    LoadJob *job = m_host.createJob();
    QMetaObject::invokeMethod(m_relinker, "relink", Qt::QueuedConnection,
        Q_ARG(QList<Relinker::Request>, requests), Q_ARG(LoadJob *, job));
}

void RelinkController::imageRelinked(const QList<int> &itemIds, const QString &path,
    const QImage &image, const ImageLoader::LoadImageResult &result)
{
    const std::shared_ptr<Picture> picture
        = result.code == ImageLoader::LoadImageResult::Loaded && !image.isNull()
        ? Picture::fromPixels(image)
        : nullptr;
    for (int id : itemIds) {
        auto *item = dynamic_cast<GraphicsImageItem *>(m_host.scene->itemById(id));
        // Gone, relinked elsewhere meanwhile, or already given pixels: leave it.
        if (!item || item->source() != path || item->picture())
            continue;
        if (picture) {
            item->setPicture(picture);
            m_relinked.insert(id);
        }
    }
    m_missing.insert(path, result);
    if (m_dialog)
        m_dialog->setResult(itemIds, result);
}

void RelinkController::jobFinished()
{
    if (!m_dialog || !m_dialog->isVisible())
        recordCommand();
}

void RelinkController::recordCommand()
{
    QList<GraphicsItem *> items;
    QStringList previous;
    for (int id : qAsConst(m_relinked)) {
        auto *item = dynamic_cast<GraphicsImageItem *>(m_host.scene->itemById(id));
        if (item && item->picture()) {
            items.append(item);
            previous.append(m_previousSources.value(id, item->source()));
        }
    }
    m_relinked.clear();
    m_previousSources.clear();
    if (!items.isEmpty())
        m_host.commands->push(new RelinkCommand(items, previous));
}

void RelinkController::finish(bool removeUnresolved, bool showOnLoad)
{
    recordCommand();
    if (removeUnresolved) {
        QList<GraphicsItem *> unresolved;
        for (GraphicsImageItem *item : m_host.scene->missingImages())
            unresolved.append(item);
        if (!unresolved.isEmpty())
            m_host.commands->push(new DeleteCommand(m_host.scene, unresolved));
    }
    if (m_host.showOnLoad)
        m_host.showOnLoad->setValue(showOnLoad);
}
