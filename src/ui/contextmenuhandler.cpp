#include "ui/contextmenuhandler.h"

#include "ui/contextmenu.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>

namespace {

ContextMenuHandler *s_instance = nullptr;

// Runs first thing in the application object's destructor, while widgets can still be deleted;
// aboutToQuit would miss every run that never enters the event loop, the tests among them.
void deleteInstance()
{
    delete s_instance;
}

} // namespace

ContextMenuHandler *ContextMenuHandler::instance()
{
    if (!s_instance) {
        s_instance = new ContextMenuHandler;
        qAddPostRoutine(deleteInstance);
    }
    return s_instance;
}

ContextMenuHandler::ContextMenuHandler()
{
    setObjectName(QStringLiteral("contextMenuHandler"));
}

ContextMenuHandler::~ContextMenuHandler()
{
    if (s_instance == this)
        s_instance = nullptr;
}

void ContextMenuHandler::setMenuParent(QWidget *window)
{
    m_menuParent = window;
    ContextMenu *contextMenu = menu();
    contextMenu->hide();
    // setParent without the flags would turn the popup into a plain child widget.
    contextMenu->setParent(window ? window : this, contextMenu->windowFlags());
}

void ContextMenuHandler::addAction(QAction *action, const QString &section)
{
    m_sections[section].prepend(action);
}

void ContextMenuHandler::addActions(const QList<QAction *> &actions, const QString &section)
{
    QList<QPointer<QAction>> &list = m_sections[section];
    for (auto it = actions.crbegin(); it != actions.crend(); ++it)
        list.prepend(*it);
}

QList<QAction *> ContextMenuHandler::build(const QPoint &position)
{
    ContextMenu *contextMenu = menu();
    contextMenu->hide();
    contextMenu->clearEntries();
    m_sections.clear();
    emit contextMenuRequested(position);

    QList<QAction *> entries;
    int separators = 0;
    for (const QList<QPointer<QAction>> &section : qAsConst(m_sections)) {
        const int sectionStart = entries.size();
        for (const QPointer<QAction> &action : section) {
            // QMenu shows an action once; the first place it was given keeps it.
            if (action && !entries.contains(action))
                entries.append(action);
        }
        if (sectionStart > 0 && entries.size() > sectionStart)
            entries.insert(sectionStart, separator(separators++));
    }
    m_sections.clear();
    return entries;
}

void ContextMenuHandler::showMenu()
{
    showMenu(QCursor::pos());
}

void ContextMenuHandler::showMenu(const QPoint &globalPosition)
{
    const QList<QAction *> entries = build(globalPosition);
    ContextMenu *contextMenu = menu();
    contextMenu->addActions(entries);
    if (!contextMenu->isEmpty())
        contextMenu->popup(globalPosition);
}

ContextMenu *ContextMenuHandler::menu() const
{
    if (!m_menu) {
        QWidget *parent = m_menuParent;
        m_menu = new ContextMenu(parent ? parent : const_cast<ContextMenuHandler *>(this));
    }
    return m_menu;
}

QAction *ContextMenuHandler::separator(int index)
{
    while (m_separators.size() <= index) {
        auto *action = new QAction(this);
        action->setSeparator(true);
        m_separators.append(action);
    }
    return m_separators.at(index);
}
