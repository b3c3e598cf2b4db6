#include "persistence/savefileloader.h"

#include "loading/loadjob.h"
#include "persistence/scenesnapshot.h"
#include "scene/graphicsimageitem.h"

#include <QDataStream>
#include <QFile>

const QString SaveFileLoader::FormatVersion = QStringLiteral("1.10");
const QString SaveFileLoader::ApplicationVersion = QStringLiteral("1.11.1");

struct SaveFileLoader::LoadState
{
};

void SaveFileLoader::SceneState::takeSnapshot()
{
    snapshot = std::make_shared<const SceneSnapshot>(SceneSnapshot::take(items));
}

SaveFileLoader::SaveFileLoader(QObject *parent)
    : BaseLoader(parent)
{
    qRegisterMetaType<SaveFileLoader::SceneState>("SaveFileLoader::SceneState");
    qRegisterMetaType<ImageLoader::LoadImageResult>("ImageLoader::LoadImageResult");
    qRegisterMetaType<GraphicsImageItem *>("GraphicsImageItem*");
    qRegisterMetaType<GraphicsItem *>("GraphicsItem*");
}

SaveFileLoader::~SaveFileLoader() = default;

void SaveFileLoader::writeItemRecords(QDataStream &, const QList<GraphicsItem *> &, bool) {}

void SaveFileLoader::writeItemRecord(QDataStream &, GraphicsItem *, double, bool) {}

SaveFileHeader SaveFileLoader::readHeader(QFile *, LoadJob *)
{
    return {};
}

bool SaveFileLoader::isValidHeader(const SaveFileHeader &)
{
    return false;
}

bool SaveFileLoader::isValidIndex(const SaveFileHeader &)
{
    return false;
}

bool SaveFileLoader::isValidFormatVersion(const QString &)
{
    return false;
}

bool SaveFileLoader::isFormatGreater(const QString &, const QString &)
{
    return false;
}

bool SaveFileLoader::isFormatAtLeast(const QString &, const QString &)
{
    return false;
}

void SaveFileLoader::save(QFile *, const QString &, const SceneState &, LoadJob *loadJob)
{
    LoadJob *job = ensureJob(loadJob);
    reportStarted(job, tr("Saving Scene"));
    reportFinished(job);
}

void SaveFileLoader::save(QFile *saveFile, const QString &oldChecksum,
                          const SceneState &sceneState)
{
    save(saveFile, oldChecksum, sceneState, nullptr);
}

void SaveFileLoader::load(QFile *, LoadJob *loadJob, bool)
{
    LoadJob *job = ensureJob(loadJob);
    reportStarted(job, tr("Loading Scene"));
    reportFinished(job);
}

void SaveFileLoader::load(QFile *loadFile, LoadJob *loadJob)
{
    load(loadFile, loadJob, false);
}

void SaveFileLoader::load(QFile *loadFile)
{
    load(loadFile, nullptr, false);
}

void SaveFileLoader::setEmbedLocalFiles(bool embedLocalFiles)
{
    m_embedLocalFiles = embedLocalFiles;
}
