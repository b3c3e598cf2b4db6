#pragma once

#include <QImageIOPlugin>

// Image-format plugin that hands formats the toolkit and the system's image plugins do not
// decode to DevIL. It only reads. Registered as a static plugin of this process, so any
// QImageReader decodes these formats; plugins installed on the system are asked first, so the
// toolkit's own readers keep their priority where they exist.
class QDevilPlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(
        IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "qdevilplugin.json")

public:
    explicit QDevilPlugin(QObject *parent = nullptr);

    // Adds the plugin to the process's static plugins; later calls do nothing.
    static void registerStatically();
    // The lower-case format names, without a dot, that DevIL decodes for us.
    static const QList<QByteArray> &formats();

    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override;
    QImageIOHandler *create(
        QIODevice *device, const QByteArray &format = QByteArray()) const override;
};
