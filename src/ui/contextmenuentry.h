#pragma once

#include <QAction>
#include <QPointer>

class Action;

// What a ContextMenu shows in place of an Action. Its text is the action's label, a tab and the
// display text of the action's binding: QMenu draws what follows a tab in its shortcut column,
// which it sizes by the widest such text and aligns across the menu's entries, so labels and
// bindings never overlap. The action itself gets no QKeySequence shortcut (the ActionHandler owns
// every key) and is never changed, as other code reads its text.
//
// The entry mirrors the action's state while both live and triggers the action when it is
// triggered itself. Once the action is gone the entry hides and deletes itself later. Owned by
// the menu that shows it; GUI thread only.
class ContextMenuEntry : public QAction {
    Q_OBJECT

public:
    ContextMenuEntry(Action *action, QObject *parent);

    // Null once the action has been destroyed.
    Action *action() const { return m_action; }

    // The label and, after a tab, the binding text when there is one.
    static QString entryText(const Action *action);

private:
    void sync();
    void triggerAction();
    void forgetAction();

    QPointer<Action> m_action;
};
