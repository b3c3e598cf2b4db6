#include "ui/mainframe.h"

#include "settings/colorscheme.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "ui/applicationlook.h"
#include "ui/colorcustomizer.h"
#include "ui/contextmenu.h"
#include "ui/contextmenuhandler.h"

#include <QActionGroup>
#include <QGuiApplication>
#include <QScreen>

MainFrame::MainFrame(GeneralSettings *settings, QWidget *window)
    : Frame(window)
    , m_settings(settings)
{
    setObjectName(QStringLiteral("mainWindow"));
    followSettings();
    createColors();
    // The menu follows the main window's look.
    ContextMenuHandler::instance()->setMenuParent(window);
    connect(this, &Frame::alwaysOnTopChanged, this,
        [this](bool on) { m_settings->setting(QStringLiteral("AlwaysOnTop"))->setValue(on); });
    connect(this, &Frame::alwaysOnBottomChanged, this,
        [this](bool on) { m_settings->setting(QStringLiteral("AlwaysOnBottom"))->setValue(on); });
    connect(this, &Frame::maximizedChanged, this,
        [this](bool on) { m_settings->setting(QStringLiteral("Maximized"))->setValue(on); });
}

void MainFrame::followSettings()
{
    const auto follow = [this](const char *name, auto apply) {
        Setting *setting = m_settings->setting(QString::fromLatin1(name));
        connect(setting, &Setting::changed, this,
            [this, name, apply] { apply(this, m_settings->setting(QString::fromLatin1(name))); });
        apply(this, setting);
    };
    const auto intOf
        = [this](const Setting *setting) { return m_settings->intValue(setting->name()); };
    follow("MoveThreshold",
        [intOf](MainFrame *frame, Setting *setting) { frame->setMoveThreshold(intOf(setting)); });
    follow("ResizeBorder",
        [intOf](MainFrame *frame, Setting *setting) { frame->setResizeBorder(intOf(setting)); });
    follow("PopupLabelEnabled", [](MainFrame *frame, Setting *setting) {
        frame->setPopupEnabled(setting->value().toBool());
    });
    follow("MaximizedAboveTaskbar", [](MainFrame *frame, Setting *setting) {
        frame->setMaximizedAboveTaskbar(setting->value().toBool());
    });
    follow("LockWhileMaximized", [](MainFrame *frame, Setting *setting) {
        frame->setLockWhileMaximized(setting->value().toBool());
    });
    follow("MainWindowBorder", [](MainFrame *frame, Setting *setting) {
        frame->setBorderVisible(setting->value().toBool());
    });
    follow("WindowLocked",
        [](MainFrame *frame, Setting *setting) { frame->setLocked(setting->value().toBool()); });
}

void MainFrame::createColors()
{
    // The customiser is a page of the preferences; until that window shows it, it stays hidden
    // and only its signals matter here.
    m_colors = new ColorCustomizer(this);
    m_colors->hide();
    m_colors->registerStandard();
    m_colors->relabelColorRole(QStringLiteral("Secondary Background Color"), tr("Canvas Color"));
    m_colors->addStyleTemplateFile(QStringLiteral(":/cf/style.qss"));
    m_look = new ApplicationLook(m_colors, this);
    connect(m_colors, &ColorCustomizer::masterOpacityUpdated, this, &MainFrame::applyOpacity);

    // Until the preferences window shows the customiser, the presets are chosen from the menu.
    m_schemeMenu = new ContextMenu(window());
    m_schemeMenu->setTitle(tr("Colour scheme"));
    auto *presets = new QActionGroup(m_schemeMenu);
    for (const ColorScheme::ColorSet &preset : m_colors->scheme().presets()) {
        QAction *entry = m_schemeMenu->addAction(preset.name);
        entry->setCheckable(true);
        entry->setActionGroup(presets);
        const QString key = preset.key;
        connect(entry, &QAction::triggered, m_colors, [this, key] { m_colors->updatePreset(key); });
        m_presetEntries.insert(key, entry);
    }
    connect(
        ContextMenuHandler::instance(), &ContextMenuHandler::contextMenuRequested, this, [this] {
            if (QAction *chosen = m_presetEntries.value(m_colors->chosenPreset()))
                chosen->setChecked(true);
            ContextMenuHandler::instance()->addAction(
                m_schemeMenu->menuAction(), QStringLiteral("10 - settings"));
        });
}

void MainFrame::applyColors()
{
    m_look->apply();
    applyOpacity(m_colors->masterOpacity());
}

void MainFrame::registerWindow(QWidget *window)
{
    // Some windows are made anew each time they are needed: the gone ones leave no trace.
    m_windows.removeAll(QPointer<QWidget>());
    m_windows.append(window);
    if (m_look->isApplied())
        window->setWindowOpacity(m_colors->masterOpacity());
}

void MainFrame::applyOpacity(qreal opacity)
{
    window()->setWindowOpacity(opacity);
    for (QWidget *other : qAsConst(m_windows)) {
        if (other)
            other->setWindowOpacity(opacity);
    }
}

QRect MainFrame::defaultGeometry(const QRect &available)
{
    QRect geometry(QPoint(0, 0), available.size() * 2 / 3);
    geometry.moveCenter(available.center());
    return geometry;
}

void MainFrame::restoreWindowState()
{
    QWidget *managed = window();
    const QScreen *primary = QGuiApplication::primaryScreen();
    const QRect available = primary ? primary->availableGeometry() : QRect(0, 0, 900, 600);
    QRect geometry = defaultGeometry(available);

    // Stored values come from a file anyone may edit: only sizes the window can take count.
    const QVariant size = m_settings->value(QStringLiteral("Size"));
    if (size.canConvert<QSize>() && size.toSize().isValid()) {
        QRect desktop;
        const QList<QScreen *> screens = QGuiApplication::screens();
        for (const QScreen *screen : screens)
            desktop |= screen->availableGeometry();
        QSize stored = size.toSize();
        if (!desktop.isEmpty())
            stored = stored.boundedTo(desktop.size());
        geometry.setSize(stored.expandedTo(managed->minimumSize()));
    }
    const QVariant position = m_settings->value(QStringLiteral("Position"));
    if (position.canConvert<QPoint>())
        geometry.moveTopLeft(position.toPoint());
    // A place off every screen (a screen unplugged since) is corrected when the window is shown.
    managed->setGeometry(geometry);
    setNormalGeometry(geometry);

    // Coming back as it was is no change to report.
    const bool popups = isPopupEnabled();
    setPopupEnabled(false);
    if (m_settings->boolValue(QStringLiteral("AlwaysOnTop")))
        setAlwaysOnTop(true);
    else if (m_settings->boolValue(QStringLiteral("AlwaysOnBottom")))
        setAlwaysOnBottom(true);
    if (m_settings->boolValue(QStringLiteral("Maximized")))
        maximize(true);
    setPopupEnabled(popups);
}

void MainFrame::storeWindowState()
{
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : window()->geometry();
    m_settings->setting(QStringLiteral("Position"))->setValue(normal.topLeft());
    m_settings->setting(QStringLiteral("Size"))->setValue(normal.size());
    m_settings->setting(QStringLiteral("Maximized"))->setValue(isMaximized());
}
