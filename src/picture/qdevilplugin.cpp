// The plugin is linked into the program, not loaded from a plugin folder: moc emits its static
// plugin entry point only when this is defined.
#define QT_STATICPLUGIN

#include "picture/qdevilplugin.h"

#include "picture/qdevilhandler.h"

#include <QMutexLocker>

#include <IL/il.h>

// Defined by moc at the end of this file.
extern const QStaticPlugin qt_static_plugin_QDevilPlugin();

QDevilPlugin::QDevilPlugin(QObject *parent)
    : QImageIOPlugin(parent)
{
    QMutexLocker locker(&QDevilHandler::devilMutex());
    ilInit();
    // Every image arrives with its first row at the top, whatever its file's origin.
    ilEnable(IL_ORIGIN_SET);
    ilOriginFunc(IL_ORIGIN_UPPER_LEFT);
}

const QList<QByteArray> &QDevilPlugin::formats()
{
    static const QList<QByteArray> names { "tga", "vda", "icb", "vst", "jp2", "jpx", "j2k", "j2c",
        "dds", "blp", "cut", "dcm", "dicom", "dpx", "exr", "fit", "fits", "ftx", "hdr", "iff",
        "ilbm", "lbm", "ham", "iwi", "jng", "ktx", "lif", "mdl", "mp3", "pcd", "pcx", "pic", "pix",
        "psp", "pxr", "rot", "sgi", "bw", "rgb", "rgba", "sun", "ras", "rs", "im1", "im8", "im24",
        "im32", "texture", "tif", "tiff", "tpl", "utx", "vtf", "wal", "wbmp" };
    return names;
}

QImageIOPlugin::Capabilities QDevilPlugin::capabilities(QIODevice *, const QByteArray &format) const
{
    return formats().contains(format) ? CanRead : Capabilities();
}

QImageIOHandler *QDevilPlugin::create(QIODevice *device, const QByteArray &format) const
{
    auto *handler = new QDevilHandler;
    handler->setDevice(device);
    handler->setFormat(format);
    return handler;
}

void QDevilPlugin::registerStatically()
{
    static const bool registered = [] {
        qRegisterStaticPluginFunction(qt_static_plugin_QDevilPlugin());
        return true;
    }();
    Q_UNUSED(registered)
}

// moc's output must be compiled with QT_STATICPLUGIN, defined above, so it is included here.
#include "moc_qdevilplugin.cpp" // NOLINT(bugprone-suspicious-include)
