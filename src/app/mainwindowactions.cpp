#include "app/mainwindowactions.h"

#include "app/mainwindowactionshost.h"
#include "commands/aligncommand.h"
#include "commands/commandhandler.h"
#include "commands/deletecommand.h"
#include "commands/depthchangecommand.h"
#include "commands/filtercommand.h"
#include "commands/normalizescalecommand.h"
#include "commands/resetcropcommand.h"
#include "commands/resettransformcommand.h"
#include "input/actionhandler.h"
#include "input/actionnames.h"
#include "input/keybinder.h"
#include "platform/platform.h"
#include "scene/animationplayer.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "scene/graphicstextitem.h"
#include "settings/generalsettings.h"
#include "ui/confirmdialog.h"
#include "ui/contextmenu.h"
#include "ui/contextmenuhandler.h"
#include "view/graphicsview.h"

#include <QClipboard>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainterPath>
#include <QTimer>
#include <QUrl>
#include <QtWidgets/private/qwidgettextcontrol_p.h>

#include <algorithm>
#include <functional>

namespace {

// Pixels of the widest source a popup label shows.
constexpr int MaximumSourceWidth = 600;

bool hasImage(const QList<GraphicsItem *> &items)
{
    return std::any_of(items.cbegin(), items.cend(),
        [](const GraphicsItem *item) { return item->itemType() == GraphicsItem::ImageItemType; });
}

// True when every picture among the items is smoothed; false when one is not, or there are none.
bool allSmooth(const QList<GraphicsItem *> &items)
{
    bool any = false;
    for (const GraphicsItem *item : items) {
        if (item->itemType() != GraphicsItem::ImageItemType)
            continue;
        if (!(static_cast<const GraphicsImageItem *>(item)->filter()
                & GraphicsImageItem::SmoothFilter))
            return false;
        any = true;
    }
    return any;
}

// The players of the animated pictures among the items.
QList<AnimationPlayer *> animationsOf(const QList<GraphicsItem *> &items)
{
    QList<AnimationPlayer *> players;
    for (GraphicsItem *item : items) {
        if (item->itemType() != GraphicsItem::ImageItemType)
            continue;
        if (AnimationPlayer *player = static_cast<GraphicsImageItem *>(item)->animation())
            players.append(player);
    }
    return players;
}

// Where a picture came from, as its user would look it up again: the page it was found on, else
// its own web address, else its file. Empty for pictures pasted from other programs.
QString originOf(const GraphicsImageItem *image)
{
    if (!image->pageAddress().isEmpty())
        return image->pageAddress();
    if (!image->pictureAddress().isEmpty())
        return image->pictureAddress();
    return image->source();
}

bool isWebAddress(const QString &origin)
{
    const QUrl address(origin);
    return address.scheme() == QLatin1String("http") || address.scheme() == QLatin1String("https");
}

// Where the images came from, each once.
QStringList sourcesOf(const QList<GraphicsItem *> &items)
{
    QStringList sources;
    for (const GraphicsItem *item : items) {
        if (item->itemType() != GraphicsItem::ImageItemType)
            continue;
        const QString source = originOf(static_cast<const GraphicsImageItem *>(item));
        if (!source.isEmpty() && !sources.contains(source))
            sources.append(source);
    }
    return sources;
}

} // namespace

MainWindowActions::MainWindowActions(MainWindowActionsHost *host)
    : QObject(host->asWidget())
    , m_host(host)
    , m_window(host->asWidget())
    , m_hideOpenSourceWarning(
          host->generalSettings()->setting(QStringLiteral("Hide Open Source Warning")))
{
    // The view's actions are looked up on every change of the selection: once, by name.
    const QList<Action *> viewActions
        = host->view()->findChildren<Action *>(QString(), Qt::FindDirectChildrenOnly);
    for (Action *action : viewActions)
        m_viewActions.insert(action->name(), action);
    createActions();
    createMenus();
    connect(ContextMenuHandler::instance(), &ContextMenuHandler::contextMenuRequested, this,
        &MainWindowActions::contributeToMenu);
    connect(
        host->scene(), &QGraphicsScene::selectionChanged, this, &MainWindowActions::updateEnabled);
    connect(host->commandHandler(), &CommandHandler::commandExecuted, this,
        &MainWindowActions::updateEnabled);
    updateEnabled();
}

template<typename Slot>
Action *MainWindowActions::add(const char *name, const QString &label, const QString &category,
    const QKeySequence &keys, Slot slot)
{
    // Window context: the keys act while the main window has the focus.
    Action *action = ActionHandler::instance()->createAction(QString::fromLatin1(name), label,
        m_window, ActionBinding(ActionBinding::Triggered, keys), Action::ListedFlag, category);
    connect(action, &QAction::triggered, this, slot);
    m_actions.insert(action->name(), action);
    m_ordered.append(action);
    return action;
}

void MainWindowActions::createActions()
{
    MainWindowActionsHost *host = m_host;
    GraphicsView *view = host->view();

    const QString file = tr("File");
    add("New Scene", tr("New"), file, QKeySequence(Qt::CTRL | Qt::Key_N),
        [host] { host->clearScene(); });
    add("Open Scene", tr("Open..."), file, QKeySequence(Qt::CTRL | Qt::Key_O),
        [host] { host->load(); });
    add("Save Scene", tr("Save"), file, QKeySequence(Qt::CTRL | Qt::Key_S),
        [host] { host->save(); });
    add("Save Scene As", tr("Save as..."), file, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
        [host] { host->saveAs(); });
    add("Load Images", tr("Load images..."), file, QKeySequence(Qt::CTRL | Qt::Key_I),
        [this] { loadImages(); });
    add("Relink Missing Images", tr("Relink missing images..."), file, QKeySequence(),
        [host] { host->relinkMissingImages(); });

    const QString edit = tr("Edit");
    add("Undo", tr("Undo"), edit, QKeySequence(Qt::CTRL | Qt::Key_Z), [host] { host->undo(); });
    Action *redo = add("Redo", tr("Redo"), edit, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z),
        [host] { host->redo(); });
    KeyBinder::instance()->addDefaultAlias(
        redo->name(), ActionBinding(ActionBinding::Triggered, QKeySequence(Qt::CTRL | Qt::Key_Y)));
    // The keys reach these actions before the note being edited, where they mean its text.
    const auto editedText = [view]() -> QWidgetTextControl * {
        GraphicsTextItem *note = view->editedNote();
        return note ? note->textControl() : nullptr;
    };
    add("Copy", tr("Copy"), edit, QKeySequence(Qt::CTRL | Qt::Key_C), [host, editedText] {
        if (QWidgetTextControl *text = editedText())
            text->copy();
        else
            host->copy();
    });
    add("Paste", tr("Paste"), edit, QKeySequence(Qt::CTRL | Qt::Key_V), [this, host, editedText] {
        if (QWidgetTextControl *text = editedText())
            text->paste();
        else
            host->pasteAt(m_fromMenu ? m_menuPosition : QCursor::pos());
    });
    add(ActionNames::DeleteImages, tr("Delete"), edit, QKeySequence(Qt::Key_Delete),
        [this] { deleteSelection(); });
    add("Select All", tr("Select all"), edit, QKeySequence(Qt::CTRL | Qt::Key_A),
        [this] { selectAll(); });
    add("New Note", tr("New note"), edit, QKeySequence(Qt::CTRL | Qt::Key_T),
        [this] { createNote(); });

    // Aligning and normalising have no default keys: they are reached through the menu first.
    const QString arrange = tr("Arrange");
    const auto align = [&](const char *name, const QString &label, int mode) {
        add(name, label, arrange, QKeySequence(), [this, view, mode] {
            if (!m_host->refuseEdit())
                view->arrangeSelection(mode);
        });
    };
    align("Align Left", tr("Align left"), AlignCommand::AlignLeft);
    align("Align Right", tr("Align right"), AlignCommand::AlignRight);
    align("Align Top", tr("Align top"), AlignCommand::AlignTop);
    align("Align Bottom", tr("Align bottom"), AlignCommand::AlignBottom);
    align("Stack", tr("Stack"), AlignCommand::Stack);
    align("Arrange In Column", tr("Arrange in a column"), AlignCommand::Column);
    align("Arrange In Row", tr("Arrange in a row"), AlignCommand::Row);
    const auto normalizeBy = [&](const char *name, const QString &label, int mode) {
        add(name, label, arrange, QKeySequence(), [this, mode] { normalize(mode); });
    };
    normalizeBy("Normalize Height", tr("Normalise height"), NormalizeScaleCommand::Height);
    normalizeBy("Normalize Width", tr("Normalise width"), NormalizeScaleCommand::Width);
    normalizeBy("Normalize Size", tr("Normalise longest side"), NormalizeScaleCommand::LongestSide);
    normalizeBy("Normalize Scale", tr("Normalise scale"), NormalizeScaleCommand::ScaleFactor);
    // Control with Page Up or Page Down takes one step; with Shift as well, all the way. Text
    // editing gives these no meaning, so a note being edited, whose keys come here first, loses
    // nothing to them.
    const auto restack
        = [&](const char *name, const QString &label, const QKeySequence &keys, int direction) {
              add(name, label, arrange, keys, [this, direction] { changeDepth(direction); });
          };
    restack("Bring To Front", tr("Bring to front"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_PageUp), DepthChangeCommand::ToFront);
    restack("Bring Forward", tr("Bring forward"), QKeySequence(Qt::CTRL | Qt::Key_PageUp),
        DepthChangeCommand::Forward);
    restack("Send Backward", tr("Send backward"), QKeySequence(Qt::CTRL | Qt::Key_PageDown),
        DepthChangeCommand::Backward);
    restack("Send To Back", tr("Send to back"),
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_PageDown), DepthChangeCommand::ToBack);

    const QString image = tr("Image");
    add("Reset Transform", tr("Reset transform"), image, QKeySequence(Qt::CTRL | Qt::Key_R),
        [this] { resetTransform(); });
    add("Reset Crop", tr("Reset crop"), image, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R),
        [this] { resetCrop(); });
    add("Toggle Grey", tr("Grey on or off"), image, QKeySequence(Qt::CTRL | Qt::Key_G),
        [this] { toggleGrey(); });
    add("Smooth Pictures", tr("Smooth pictures"), image, QKeySequence(), [this] {
        toggleSmoothing();
    })->setCheckable(true);
    // The identifier is older than the page addresses: stored bindings keep working.
    add("Open Image Source", tr("Open source"), image, QKeySequence(), [this] { openSources(); });
    add("Copy Source Address", tr("Copy source address"), image, QKeySequence(),
        [this] { copySourceAddresses(); });
    createSourceHover(image);
    // Keys of video players: K pauses, comma and period step, brackets change the speed.
    const auto animate = [&](const char *name, const QString &label, const QKeySequence &keys,
                             const std::function<void(const QList<AnimationPlayer *> &)> &change) {
        return add(name, label, image, keys, [this, change] {
            const QList<AnimationPlayer *> players
                = animationsOf(m_host->scene()->selectedGraphicsItems());
            if (!players.isEmpty())
                change(players);
            updateEnabled();
        });
    };
    animate("Play Animation", tr("Play or pause"), QKeySequence(Qt::Key_K),
        [](const QList<AnimationPlayer *> &players) {
            // A selection of which some play stops; one that is all paused plays.
            const bool anyPlaying = std::any_of(players.cbegin(), players.cend(),
                [](const AnimationPlayer *player) { return player->playback().playing; });
            for (AnimationPlayer *player : players)
                player->setPlaying(!anyPlaying);
        });
    animate("Next Frame", tr("Next frame"), QKeySequence(Qt::Key_Period),
        [](const QList<AnimationPlayer *> &players) {
            for (AnimationPlayer *player : players)
                player->step(1);
        });
    animate("Previous Frame", tr("Previous frame"), QKeySequence(Qt::Key_Comma),
        [](const QList<AnimationPlayer *> &players) {
            for (AnimationPlayer *player : players)
                player->step(-1);
        });
    animate("First Frame", tr("First frame"), QKeySequence(Qt::Key_Home),
        [](const QList<AnimationPlayer *> &players) {
            for (AnimationPlayer *player : players)
                player->showFirstFrame();
        });
    animate("Faster Animation", tr("Faster"), QKeySequence(Qt::Key_BracketRight),
        [](const QList<AnimationPlayer *> &players) {
            for (AnimationPlayer *player : players)
                player->setSpeed(player->playback().speed * 2);
        });
    animate("Slower Animation", tr("Slower"), QKeySequence(Qt::Key_BracketLeft),
        [](const QList<AnimationPlayer *> &players) {
            for (AnimationPlayer *player : players)
                player->setSpeed(player->playback().speed / 2);
        });
    animate("Loop Animation", tr("Loop"), QKeySequence(Qt::Key_L),
        [](const QList<AnimationPlayer *> &players) {
            // One switch for the whole selection, as smoothing is.
            const bool allLoop = std::all_of(players.cbegin(), players.cend(),
                [](const AnimationPlayer *player) { return player->playback().loops; });
            for (AnimationPlayer *player : players)
                player->setLoops(!allLoop);
        })
        ->setCheckable(true);

    const QString viewCategory = tr("View");
    add("Reset View", tr("Reset view"), viewCategory, QKeySequence(Qt::CTRL | Qt::Key_0),
        [view] { view->resetView(); });
    add("Actual Size", tr("Actual size"), viewCategory, QKeySequence(Qt::CTRL | Qt::Key_1),
        [view] { view->actualSize(); });
    Action *slideshow = add("Slideshow", tr("Slideshow"), viewCategory, QKeySequence(Qt::Key_F5),
        [view] { view->toggleSlideshow(); });
    slideshow->setCheckable(true);

    const QString preferences = tr("Preferences");
    add("Open Settings", tr("Settings..."), preferences, QKeySequence(Qt::CTRL | Qt::Key_Comma),
        [host] { host->showPreferences(MainWindowActionsHost::SettingsPage); });
    add("Open Colors", tr("Colours..."), preferences, QKeySequence(),
        [host] { host->showPreferences(MainWindowActionsHost::ColorsPage); });
    add("Open Key Bindings", tr("Key bindings..."), preferences, QKeySequence(),
        [host] { host->showPreferences(MainWindowActionsHost::KeyBindingsPage); });
    add("About", tr("About Velkora"), preferences, QKeySequence(), [host] { host->showAbout(); });
    add("Check For Updates", tr("Check for updates"), preferences, QKeySequence(),
        [host] { host->checkForUpdates(); });

    const QString exporting = tr("Export");
    add("Export Scene", tr("Export scene..."), exporting, QKeySequence(Qt::CTRL | Qt::Key_E),
        [host] { host->exportSceneWithDialog(); });
    add("Export All Images", tr("Export all images..."), exporting,
        QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E),
        [host] { host->exportAllImagesWithDialog(); });
    add("Export Selected Images", tr("Export selected images..."), exporting, QKeySequence(),
        [host] { host->exportSelectedImages(); });
}

Action *MainWindowActions::viewAction(const char *name) const
{
    return m_viewActions.value(QString::fromLatin1(name));
}

void MainWindowActions::createMenus()
{
    const auto menu = [this](const QString &title, const QList<QAction *> &entries) {
        auto *submenu = new ContextMenu(m_window);
        submenu->setTitle(title);
        for (QAction *entry : entries) {
            if (entry)
                submenu->addAction(entry);
            else
                submenu->addSeparator();
        }
        return submenu;
    };
    const auto named = [this](const char *name) { return action(QString::fromLatin1(name)); };

    m_recentMenu = new ContextMenu(m_window);
    m_recentMenu->setTitle(tr("Recent files"));
    m_fileMenu = menu(tr("File"),
        { named("New Scene"), named("Open Scene"), m_recentMenu->menuAction(), nullptr,
            named("Save Scene"), named("Save Scene As"), nullptr, named("Load Images"),
            named("Relink Missing Images") });
    m_arrangeMenu = menu(tr("Arrange"),
        { viewAction("Arrange Optimally"), viewAction("Arrange By Name"),
            viewAction("Arrange By Order"), viewAction("Pack All"), nullptr, named("Align Left"),
            named("Align Right"), named("Align Top"), named("Align Bottom"), named("Stack"),
            named("Arrange In Column"), named("Arrange In Row"), nullptr, named("Normalize Height"),
            named("Normalize Width"), named("Normalize Size"), named("Normalize Scale"), nullptr,
            named("Bring To Front"), named("Bring Forward"), named("Send Backward"),
            named("Send To Back") });
    m_imageMenu = menu(tr("Image"),
        { named("Reset Transform"), named("Reset Crop"), nullptr, viewAction("Flip Horizontally"),
            viewAction("Flip Vertically"), nullptr, named("Toggle Grey"), named("Smooth Pictures"),
            nullptr, named("Play Animation"), named("Previous Frame"), named("Next Frame"),
            named("First Frame"), named("Slower Animation"), named("Faster Animation"),
            named("Loop Animation"), nullptr, named("Open Image Source"),
            named("Copy Source Address") });
    m_viewMenu = menu(tr("View"),
        { viewAction("Focus Images"), viewAction("Focus Canvas"), named("Reset View"),
            named("Actual Size"), nullptr, named("Slideshow") });
    m_exportMenu = menu(tr("Export"),
        { named("Export Scene"), named("Export All Images"), named("Export Selected Images") });
}

void MainWindowActions::contributeToMenu(const QPoint &position)
{
    m_menuPosition = position;
    m_fromMenu = true;
    // The menu triggers an entry after it has hidden itself: the flag outlives the hiding by
    // one turn of the event loop.
    connect(
        ContextMenuHandler::instance()->menu(), &QMenu::aboutToHide, this,
        [this] { QTimer::singleShot(0, this, [this] { m_fromMenu = false; }); },
        Qt::UniqueConnection);

    m_recentMenu->clear();
    const QList<QAction *> recent = m_host->recentFileActions();
    for (QAction *entry : recent) {
        if (entry->isVisible())
            m_recentMenu->addAction(entry);
    }
    m_recentMenu->menuAction()->setEnabled(!m_recentMenu->isEmpty());
    if (Action *slideshow = action(QStringLiteral("Slideshow")))
        slideshow->setChecked(m_host->view()->isSlideshowRunning());
    updateEnabled();

    ContextMenuHandler *handler = ContextMenuHandler::instance();
    handler->addActions(
        { action(QStringLiteral("Open Settings")), action(QStringLiteral("Open Colors")),
            action(QStringLiteral("Open Key Bindings")), action(QStringLiteral("About")),
            action(QStringLiteral("Check For Updates")) },
        QStringLiteral("10 - settings"));
    handler->addActions({ m_fileMenu->menuAction() }, QStringLiteral("20 - file"));
    handler->addActions(
        { action(QStringLiteral("Undo")), action(QStringLiteral("Redo")),
            action(QStringLiteral("Copy")), action(QStringLiteral("Paste")),
            action(QStringLiteral("New Note")), action(QStringLiteral("Select All")),
            action(QString::fromLatin1(ActionNames::DeleteImages)) },
        QStringLiteral("30 - edit"));
    handler->addActions({ m_arrangeMenu->menuAction(), m_imageMenu->menuAction(),
                            m_viewMenu->menuAction(), m_exportMenu->menuAction() },
        QStringLiteral("40 - board"));
}

void MainWindowActions::updateEnabled()
{
    GraphicsScene *scene = m_host->scene();
    GraphicsView *view = m_host->view();
    CommandHandler *commands = m_host->commandHandler();
    const QList<GraphicsItem *> selected = scene->selectedGraphicsItems();
    const QList<GraphicsItem *> all = scene->topLevelItems();
    // The window's own edits stay enabled on a locked canvas: they say why they refuse. The
    // view's do nothing while it is locked and are disabled instead.
    const bool viewEditable = !view->isCanvasLocked();
    const bool canEditSelection = !selected.isEmpty();

    const auto enable = [](Action *action, bool enabled) {
        if (action)
            action->setEnabled(enabled);
    };
    const auto enableNamed = [&](const char *name, bool enabled) {
        enable(action(QString::fromLatin1(name)), enabled);
    };
    enableNamed("Undo", commands->position() > 0);
    enableNamed("Redo", commands->position() < commands->count());
    enableNamed(ActionNames::DeleteImages, canEditSelection);
    enableNamed("Copy", canEditSelection);
    enableNamed("Select All", !all.isEmpty());
    enableNamed("New Note", true);
    for (const char *name : { "Align Left", "Align Right", "Align Top", "Align Bottom", "Stack",
             "Arrange In Column", "Arrange In Row", "Normalize Height", "Normalize Width",
             "Normalize Size", "Normalize Scale" })
        enableNamed(name, selected.size() > 1);
    enableNamed("Reset Transform", canEditSelection);
    enableNamed("Reset Crop", hasImage(selected));
    enableNamed("Toggle Grey", hasImage(selected));
    enableNamed("Smooth Pictures", hasImage(selected));
    // A mixed selection shows unchecked: the switch would make it all smooth.
    if (Action *smooth = action(QStringLiteral("Smooth Pictures")))
        smooth->setChecked(allSmooth(selected));
    const bool anySource = !sourcesOf(selected).isEmpty();
    enableNamed("Open Image Source", anySource);
    enableNamed("Copy Source Address", anySource);
    const QList<AnimationPlayer *> players = animationsOf(selected);
    for (const char *name : { "Play Animation", "Next Frame", "Previous Frame", "First Frame",
             "Faster Animation", "Slower Animation", "Loop Animation" })
        enableNamed(name, !players.isEmpty());
    if (Action *loop = action(QStringLiteral("Loop Animation")))
        loop->setChecked(!players.isEmpty()
            && std::all_of(players.cbegin(), players.cend(),
                [](const AnimationPlayer *player) { return player->playback().loops; }));
    enableNamed("Export Scene", !all.isEmpty());
    enableNamed("Export All Images", hasImage(all));
    enableNamed("Export Selected Images", hasImage(selected));
    enableNamed("Slideshow", !all.isEmpty());
    for (const char *name : { "Arrange Optimally", "Arrange By Name", "Arrange By Order" })
        enable(viewAction(name), viewEditable && selected.size() > 1);
    enable(viewAction("Pack All"), viewEditable && all.size() > 1);
    enable(viewAction("Flip Horizontally"), viewEditable && canEditSelection);
    enable(viewAction("Flip Vertically"), viewEditable && canEditSelection);
    // Stacking is the canvas's own business, like selecting that brings to the front: it
    // follows the canvas lock as the view's arranging does.
    for (const char *name : { "Bring To Front", "Bring Forward", "Send Backward", "Send To Back" })
        enableNamed(name, viewEditable && canEditSelection);
}

// Commands -------------------------------------------------------------------------------------

void MainWindowActions::selectAll()
{
    GraphicsScene *scene = m_host->scene();
    // One selection change for the whole board, however many items it holds.
    QPainterPath everything;
    everything.addRect(scene->itemsBoundingRect().adjusted(-1, -1, 1, 1));
    scene->setSelectionArea(everything, Qt::IntersectsItemBoundingRect);
}

void MainWindowActions::deleteSelection()
{
    const QList<GraphicsItem *> selected = m_host->scene()->selectedGraphicsItems();
    if (selected.isEmpty() || m_host->refuseEdit())
        return;
    m_host->commandHandler()->push(new DeleteCommand(m_host->scene(), selected));
}

void MainWindowActions::createNote()
{
    GraphicsView *view = m_host->view();
    QPoint at = view->viewport()->mapFromGlobal(m_fromMenu ? m_menuPosition : QCursor::pos());
    // Keys pressed with the pointer elsewhere put the note in the middle of the canvas.
    if (!view->viewport()->rect().contains(at))
        at = view->viewport()->rect().center();
    if (!view->createNote(at))
        m_host->showNotice(
            tr("Canvas lock"), tr("Canvas locked"), QStringLiteral(":/cf/icons/lock.svg"));
}

void MainWindowActions::loadImages()
{
    QStringList patterns;
    const QList<QByteArray> formats = QImageReader::supportedImageFormats();
    for (const QByteArray &format : formats)
        patterns << QStringLiteral("*.") + QString::fromLatin1(format);
    const QString directory = m_host->browsePath();
    const QStringList paths = QFileDialog::getOpenFileNames(m_window, tr("Load images"), directory,
        tr("Images (%1);;All files (*)").arg(patterns.join(QLatin1Char(' '))));
    if (paths.isEmpty())
        return;
    m_host->saveBrowsePath(paths.first());
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    m_host->handleOpenFileRequest(urls);
}

void MainWindowActions::normalize(int mode)
{
    const QList<GraphicsItem *> selected = m_host->scene()->selectedGraphicsItems();
    if (selected.size() < 2 || m_host->refuseEdit())
        return;
    auto *command = new NormalizeScaleCommand(selected, mode);
    connect(command, &BaseCommand::commandMessage, m_host->commandHandler(),
        &CommandHandler::commandMessage);
    command->finish();
    m_host->commandHandler()->push(command);
}

void MainWindowActions::resetTransform()
{
    const QList<GraphicsItem *> selected = m_host->scene()->selectedGraphicsItems();
    if (selected.isEmpty() || m_host->refuseEdit())
        return;
    auto *command = new ResetTransformCommand(selected);
    command->finish();
    m_host->commandHandler()->push(command);
}

void MainWindowActions::resetCrop()
{
    const QList<GraphicsItem *> selected = m_host->scene()->selectedGraphicsItems();
    if (!hasImage(selected) || m_host->refuseEdit())
        return;
    m_host->commandHandler()->push(new ResetCropCommand(selected));
}

void MainWindowActions::toggleGrey()
{
    const QList<GraphicsItem *> selected = m_host->scene()->selectedGraphicsItems();
    if (!hasImage(selected) || m_host->refuseEdit())
        return;
    m_host->commandHandler()->push(new FilterCommand(selected, GraphicsImageItem::GrayscaleFilter));
}

void MainWindowActions::toggleSmoothing()
{
    const QList<GraphicsItem *> selected = m_host->scene()->selectedGraphicsItems();
    if (hasImage(selected) && !m_host->refuseEdit()) {
        // One switch for the whole selection: a mixed one becomes smooth, as new pictures are.
        const FilterCommand::Mode mode
            = allSmooth(selected) ? FilterCommand::Mode::Clear : FilterCommand::Mode::Set;
        m_host->commandHandler()->push(
            new FilterCommand(selected, GraphicsImageItem::SmoothFilter, mode));
    }
    // Triggering flipped the check mark by itself; it shows the pictures, whatever came of it.
    updateEnabled();
}

void MainWindowActions::changeDepth(int direction)
{
    GraphicsScene *scene = m_host->scene();
    const QList<GraphicsItem *> selected = scene->selectedGraphicsItems();
    if (selected.isEmpty() || m_host->refuseEdit())
        return;
    m_host->commandHandler()->push(new DepthChangeCommand(scene, selected, direction));
}

void MainWindowActions::openSources()
{
    const QStringList sources = sourcesOf(m_host->scene()->selectedGraphicsItems());
    if (sources.isEmpty())
        return;
    if (sources.size() > 1
        && ConfirmDialog::ask(m_window, tr("Open Source Warning"),
               tr("You are about to open %0 image sources. Are you sure you want to continue?")
                   .arg(sources.size()),
               { { QString(), QDialogButtonBox::YesRole, QDialogButtonBox::Yes },
                   { QString(), QDialogButtonBox::NoRole, QDialogButtonBox::No } },
               m_hideOpenSourceWarning, 0)
            != 0)
        return;
    QStringList files;
    for (const QString &source : sources) {
        if (isWebAddress(source))
            QDesktopServices::openUrl(QUrl(source));
        else
            files.append(source);
    }
    // One file manager window shows every local file, selected.
    if (!files.isEmpty())
        Platform::showInFileManager(files);
}

void MainWindowActions::copySourceAddresses()
{
    const QStringList sources = sourcesOf(m_host->scene()->selectedGraphicsItems());
    if (!sources.isEmpty())
        QGuiApplication::clipboard()->setText(sources.join(QLatin1Char('\n')));
}

void MainWindowActions::createSourceHover(const QString &category)
{
    // A modifier pair alone, without buttons: it shows nothing on its own, and the gestures that
    // add a button to it (flipping) end the hover when the button goes down.
    const ActionBinding binding(
        ActionBinding::Continuous, QKeySequence(Qt::ALT | Qt::SHIFT), Qt::NoButton);
    m_sourceHover = ActionHandler::instance()->createAction(QStringLiteral("Show Image Source"),
        tr("Show source under pointer"), m_window, binding, Action::ListedFlag, category);
    m_actions.insert(m_sourceHover->name(), m_sourceHover);
    m_ordered.append(m_sourceHover);
    connect(m_sourceHover, &Action::continuousBegin, this,
        [this](const QPoint &position) { showSourceAt(position); });
    connect(m_sourceHover, &Action::continuousUpdate, this,
        [this](const Action::ContinuousUpdateData &motion) { showSourceAt(motion.current); });
    connect(m_sourceHover, &Action::continuousEnd, this, [this] { m_sourceShown.clear(); });
}

void MainWindowActions::showSourceAt(const QPoint &globalPosition)
{
    GraphicsView *view = m_host->view();
    const QPoint at = view->viewport()->mapFromGlobal(globalPosition);
    GraphicsItem *item = view->viewport()->rect().contains(at) ? view->topItemAt(at) : nullptr;
    if (!item || item->itemType() != GraphicsItem::ImageItemType) {
        m_sourceShown.clear();
        return;
    }
    QString source = originOf(static_cast<GraphicsImageItem *>(item));
    if (source.isEmpty())
        source = tr("No source");
    else if (!isWebAddress(source))
        source = QDir::toNativeSeparators(source);
    if (source == m_sourceShown)
        return;
    m_sourceShown = source;
    // The label does not wrap: a long address keeps its start and its end.
    const QString heading
        = m_window->fontMetrics().elidedText(source, Qt::ElideMiddle, MaximumSourceWidth);
    m_host->showNotice(tr("Source"), heading, QStringLiteral(":/icons/source.svg"),
        m_sourceHover->bindingText().toUpper());
}
