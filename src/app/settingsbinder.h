#pragma once

#include <QObject>

class GeneralSettings;
class GraphicsView;
class ImageLoader;
class PictureBudget;
class SaveFileLoader;

// Hands settings to the objects that follow them, at once and again whenever they change. The
// loaders live on the worker thread: theirs reach them by queued calls. The view, on this
// thread, gets its own directly. GUI thread only.
class SettingsBinder : public QObject {
    Q_OBJECT

public:
    explicit SettingsBinder(GeneralSettings *settings, QObject *parent = nullptr);

    void bindLoaders(ImageLoader *imageLoader, SaveFileLoader *saveFileLoader);
    void bindView(GraphicsView *target);
    // "Picture Memory", in MB, becomes the budget's limit in bytes.
    void bindPictureBudget(PictureBudget *budget);

private:
    GeneralSettings *m_settings;
};
