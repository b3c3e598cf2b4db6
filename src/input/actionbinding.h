#pragma once

#include <QKeySequence>
#include <QList>
#include <QPointer>
#include <QString>

class ActionCondition;

// One way to reach an action: a key combination and/or held mouse buttons, the context in which
// it applies, its kind, and the conditions that must hold. A plain value, copied freely.
//
// Conditions are held through guarded pointers: a condition destroyed while bindings still
// carry it simply drops out of them (with its expected value) instead of dangling.
class ActionBinding {
public:
    // Kinds. An action whose first binding is Inactive is created disabled.
    enum Type { Inactive = 0, Triggered = 1, Continuous = 2 };
    // Contexts: the toolkit's shortcut contexts, plus SystemGlobal, which fires while another
    // program has the focus.
    enum Context {
        WidgetContext = 0,
        WindowContext = 1,
        ApplicationContext = 2,
        WidgetWithChildrenContext = 3,
        SystemGlobalContext = 4
    };

    ActionBinding() = default;
    ActionBinding(int type, const QKeySequence &keySequence,
        Qt::MouseButtons mouseButtons = Qt::NoButton, int context = WindowContext);

    int type = Triggered;
    // Only the first key takes part in matching: key code plus modifier bits.
    QKeySequence keySequence;
    Qt::MouseButtons mouseButtons = Qt::NoButton;
    int context = WindowContext;
    bool consumesInput = false;

    // The first key with its modifiers, 0 when there is none.
    int firstKey() const;
    bool isEmpty() const;

    // Adding a condition that is already present only replaces its expected value.
    void addCondition(ActionCondition *condition, bool expected = true);
    void removeCondition(ActionCondition *condition);
    bool hasCondition(const ActionCondition *condition) const;
    // The live conditions, in the order they were added, and their expected values.
    QList<ActionCondition *> conditions() const;
    QList<bool> expectedValues() const;
    bool expectedValue(const ActionCondition *condition) const;

    // The same binding as far as the user can tell: keys, buttons and consumesInput equal, and
    // every condition both carry expects the same value. Context and kind are not compared.
    bool isSameBinding(const ActionBinding &other) const;
    // Equal keys and buttons: what the key binder calls a conflict.
    bool conflictsWith(const ActionBinding &other) const;
    // Full equality, used to skip edits that change nothing.
    bool operator==(const ActionBinding &other) const;
    bool operator!=(const ActionBinding &other) const { return !(*this == other); }
    // Display order: plain bindings before consuming ones, then by key, then by buttons.
    bool operator<(const ActionBinding &other) const;

    // "Left MB  +  Ctrl+Alt", "Middle MB", "Ctrl+Z".
    QString displayText() const;
    // The name of the mouse button of the given bit of Qt::MouseButtons (0 to 26).
    static QString mouseButtonName(int bit);
    static QString mouseButtonsText(Qt::MouseButtons buttons);

private:
    void pruneConditions();

    QList<QPointer<ActionCondition>> m_conditions;
    QList<bool> m_expectedValues;
};

Q_DECLARE_METATYPE(ActionBinding)
