#pragma once

#include <QMenu>

// The program's context menu and its submenus (give an action a submenu with
// QAction::setMenu(new ContextMenu(parent))). Frameless with a translucent background, so that the
// style sheet draws its shape.
//
// An Action added to the menu is shown through a ContextMenuEntry, which puts the action's binding
// text beside its label in one aligned column; the Action itself is then not among actions(), and
// removing it takes removeAction() of its entry. An Action that opens a submenu and every other
// action are shown as they are. Releasing the mouse over a separator, a disabled entry or a spot
// without an entry leaves the menu open: QMenu would close it once the mouse had moved, and a
// click that slipped off an entry would lose the whole menu. GUI thread only.
class ContextMenu : public QMenu {
    Q_OBJECT

public:
    explicit ContextMenu(QWidget *parent = nullptr);

    // Removes every entry. The entries the menu made for Actions are deleted later, as this may
    // run while one of them is being triggered; other actions stay their owners'.
    void clearEntries();

protected:
    void actionEvent(QActionEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    // The Action being replaced by its entry, while that happens.
    QAction *m_replaced = nullptr;
};
