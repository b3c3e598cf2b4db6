#include "app/settingsbinder.h"

#include "loading/imageloader.h"
#include "persistence/savefileloader.h"
#include "picture/picturebudget.h"
#include "scene/graphicsscene.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "view/graphicsview.h"

SettingsBinder::SettingsBinder(GeneralSettings *settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
{
}

void SettingsBinder::bindLoaders(ImageLoader *imageLoader, SaveFileLoader *saveFileLoader)
{
    const auto forward = [this, imageLoader](const QString &name, const char *slot) {
        Setting *setting = m_settings->setting(name);
        const auto apply = [this, imageLoader, slot, setting] {
            const QVariant value = setting->value();
            if (value.userType() == QMetaType::Bool)
                QMetaObject::invokeMethod(
                    imageLoader, slot, Qt::QueuedConnection, Q_ARG(bool, value.toBool()));
            else
                QMetaObject::invokeMethod(imageLoader, slot, Qt::QueuedConnection,
                    Q_ARG(int, m_settings->intValue(setting->name())));
        };
        connect(setting, &Setting::changed, this, apply);
        apply();
    };
    forward(QStringLiteral("AutoDownscale"), "setAutoDownscale");
    forward(QStringLiteral("AutoDownscaleMaxWidth"), "setAutoDownscaleMaxWidth");
    forward(QStringLiteral("AutoDownscaleMaxHeight"), "setAutoDownscaleMaxHeight");

    Setting *embed = m_settings->setting(QStringLiteral("Embed Local Files"));
    const auto applyEmbed = [saveFileLoader, embed] {
        QMetaObject::invokeMethod(saveFileLoader, "setEmbedLocalFiles", Qt::QueuedConnection,
            Q_ARG(bool, embed->value().toBool()));
    };
    connect(embed, &Setting::changed, this, applyEmbed);
    applyEmbed();
    Setting *compression = m_settings->setting(QStringLiteral("Save Compression"));
    const auto applyCompression = [this, saveFileLoader] {
        QMetaObject::invokeMethod(saveFileLoader, "setSaveCompression", Qt::QueuedConnection,
            Q_ARG(int, m_settings->intValue(QStringLiteral("Save Compression"))));
    };
    connect(compression, &Setting::changed, this, applyCompression);
    applyCompression();
    // Pictures keep the files they came from only while boards store them.
    Setting *storage = m_settings->setting(QStringLiteral("Picture Storage"));
    const auto applyStorage = [this, imageLoader, saveFileLoader] {
        const int chosen = m_settings->intValue(QStringLiteral("Picture Storage"));
        QMetaObject::invokeMethod(
            saveFileLoader, "setPictureStorage", Qt::QueuedConnection, Q_ARG(int, chosen));
        QMetaObject::invokeMethod(imageLoader, "setKeepOriginals", Qt::QueuedConnection,
            Q_ARG(bool, chosen == SaveFileLoader::OriginalFiles));
    };
    connect(storage, &Setting::changed, this, applyStorage);
    applyStorage();
}

void SettingsBinder::bindView(GraphicsView *target)
{
    const auto forward = [this, target](const char *key, auto apply) {
        Setting *setting = m_settings->setting(QString::fromLatin1(key));
        connect(setting, &Setting::changed, target,
            [target, setting, apply] { apply(target, setting->value()); });
        apply(target, setting->value());
    };
    forward("WheelFunctionality",
        [](GraphicsView *view, const QVariant &value) { view->setWheelMode(value.toInt()); });
    forward("InvertWheel",
        [](GraphicsView *view, const QVariant &value) { view->setInvertWheel(value.toBool()); });
    forward("ActivateSelectedImages", [](GraphicsView *view, const QVariant &value) {
        view->setActivateSelected(value.toBool());
    });
    forward("Alignment Padding",
        [](GraphicsView *view, const QVariant &value) { view->setAlignmentGap(value.toInt()); });
    forward("SlideshowInterval", [](GraphicsView *view, const QVariant &value) {
        view->setSlideshowInterval(value.toInt());
    });
    forward("SelectTextOnEditingStart", [](GraphicsView *view, const QVariant &value) {
        view->setSelectTextOnEditingStart(value.toBool());
    });
    forward("FinishNoteWithReturn", [](GraphicsView *view, const QVariant &value) {
        view->setFinishNoteWithReturn(value.toBool());
    });
    forward("ScaleOnResize",
        [](GraphicsView *view, const QVariant &value) { view->setScaleOnResize(value.toBool()); });
    forward("TransformGizmo",
        [](GraphicsView *view, const QVariant &value) { view->setGizmoEnabled(value.toBool()); });
    forward("TransformGizmoDisplayMode", [](GraphicsView *view, const QVariant &value) {
        view->setGizmoDisplayMode(value.toInt());
    });
    forward("TransformGizmoHandleSize",
        [](GraphicsView *view, const QVariant &value) { view->setGizmoHandleSize(value.toInt()); });
    forward("TransformGizmoFadeWhenInactive", [](GraphicsView *view, const QVariant &value) {
        view->setGizmoFadeWhenInactive(value.toBool());
    });
    forward("DrawImageBorders", [](GraphicsView *view, const QVariant &value) {
        view->graphicsScene()->setBorderMode(value.toInt());
    });
    forward("ZoomQuality", [](GraphicsView *view, const QVariant &value) {
        view->graphicsScene()->setZoomQuality(value.toInt());
    });
}

void SettingsBinder::bindPictureBudget(PictureBudget *budget)
{
    Setting *memory = m_settings->setting(QStringLiteral("Picture Memory"));
    const auto apply = [this, budget] {
        const qint64 megabytes = m_settings->intValue(QStringLiteral("Picture Memory"));
        budget->setLimit(megabytes * 1024 * 1024);
    };
    connect(memory, &Setting::changed, this, apply);
    apply();
}
