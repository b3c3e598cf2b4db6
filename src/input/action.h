#pragma once

#include "input/actionbinding.h"

#include <QAction>
#include <QList>
#include <QPoint>

class ActionHandler;

// An input action: a QAction with a fixed identifier, a category, a list of bindings (index 0 is
// the primary one) and flags. Triggered actions fire QAction::triggered; continuous actions
// run from continuousBegin through continuousUpdate to continuousEnd while the ActionHandler
// finds one of their bindings satisfied. Created through ActionHandler::createAction; destroying
// an action unregisters it. GUI thread only.
class Action : public QAction {
    Q_OBJECT

public:
    enum Flag {
        // Either bit lists the action in the key binder; the second also marks it as one that
        // only experienced users rebind (the binder shows it with a hint).
        ListedFlag = 1,
        AdvancedFlag = 2,
        // A continuous action that may run with an empty binding, chosen while the mouse moves.
        HoverFlag = 4,
        // While it runs, mouse moves are swallowed, and so are key presses matching its binding.
        ConsumesInputFlag = 8
    };

    // Global screen positions of a running continuous action.
    struct ContinuousUpdateData {
        QPoint origin; // where the action began
        QPoint previous; // at the last update
        QPoint current;
    };

    ~Action() override;

    QString name() const { return m_name; }
    QString category() const;
    QString displayText() const;
    void setDisplayText(const QString &displayText) { m_displayText = displayText; }
    int flags() const { return m_flags; }
    bool isListed() const { return m_flags & (ListedFlag | AdvancedFlag); }

    int bindingCount() const { return m_bindings.size(); }
    ActionBinding binding(int index) const { return m_bindings.value(index); }
    QList<ActionBinding> bindings() const { return m_bindings; }
    // By the same-binding rule; -1 when absent.
    int indexOfBinding(const ActionBinding &binding) const;

    void addBinding(const ActionBinding &binding);
    void setBinding(int index, const ActionBinding &binding);
    void setBindings(const QList<ActionBinding> &bindings);
    void removeBinding(int index);

    bool isBindingSatisfied(int index) const;
    bool isAnyBindingSatisfied() const;
    bool areAllBindingsEmpty() const;
    // The display text of the first non-empty binding; empty when there is none.
    QString bindingText() const;

    bool isBlocked() const { return m_blocked; }

public slots:
    // While blocked, this only records the state that unblocking restores.
    void setEnabled(bool enabled);
    void setBlocked(bool blocked);

signals:
    void bindingsChanged(Action *action, const QList<ActionBinding> &oldBindings);
    void continuousBegin(const QPoint &pos, Action *transitioningFrom);
    void continuousUpdate(const Action::ContinuousUpdateData &data);
    void continuousEnd(const Action::ContinuousUpdateData &data, Action *transitioningTo);

private:
    friend class ActionHandler;
    Action(const QString &name, const ActionBinding &binding, int flags, const QString &category,
        QObject *parent);
    // For the handler's own additions to bindings, which must not announce themselves again.
    void replaceBindingsQuietly(const QList<ActionBinding> &bindings) { m_bindings = bindings; }

    QString m_name;
    QString m_category;
    QString m_displayText;
    int m_flags = 0;
    QList<ActionBinding> m_bindings;
    bool m_blocked = false;
    bool m_enabledBeforeBlock = true;
};

Q_DECLARE_METATYPE(Action::ContinuousUpdateData)
