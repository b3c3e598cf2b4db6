#pragma once

#include "input/actionbinding.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class Action;
class ActionBindingEdit;
class KeyBinder;
class QSettings;
class QVBoxLayout;
class QLabel;
class QPushButton;

// One row of the key binder: an action's current bindings (one edit each), its defaults, and
// their home in the settings file.
//
// Stored layout (group "Key_Bindings", suffix "" for binding 0, then "1", "2", ...): the
// current list is the defaults without those marked "<name>_Default<N>_Deleted", overridden
// index by index by the stored "<name><suffix>Context/Shortcut/Buttons" entries and extended by
// stored aliases. Any user edit stores the whole list, so defaults added later by code (a
// default alias) neither duplicate nor resurrect what the user changed. GUI thread only.
class KeyBinding : public QWidget {
    Q_OBJECT

public:
    KeyBinding(Action *action, KeyBinder *binder, QWidget *parent = nullptr);

    QString name() const { return m_name; }
    int flags() const { return m_flags; }
    Action *action() const { return m_action; }
    QString label() const;
    QList<ActionBinding> defaultBindings() const { return m_defaults; }
    QList<ActionBinding> bindings() const;
    // Indexes whose binding came from the settings file at the last load.
    QList<int> loadedIndexes() const { return m_loaded; }

    // Reads the stored bindings and gives them to the action.
    void load();
    void addDefaultBinding(const ActionBinding &binding);
    // User edits; each is written to the settings file at once. Only keys, buttons, context
    // and kind are taken from the given binding: conditions stay those of the action.
    void rebind(int index, const ActionBinding &keys);
    void addAlias(const ActionBinding &keys);
    // Refuses to remove the last binding: an action without any cannot be rebound from here.
    bool removeAlias(int index);
    void restoreDefaults();

    static QString suffix(int index);
    static QString storageKey(const QString &name, const QString &field);

signals:
    void bindingsEdited(KeyBinding *row);

private:
    void apply(const QList<ActionBinding> &keys);
    void save();
    void rebuildEdits();
    // The given keys with the conditions of the action's binding at index (or its first).
    ActionBinding withActionConditions(const ActionBinding &keys, int index) const;
    bool readStored(
        int index, const ActionBinding &fallback, ActionBinding *binding, bool *readable) const;
    // "<name>_Default<N>_Deleted": the user removed default binding N.
    QString deletedKey(int defaultIndex) const;
    static QSettings *store();

    QPointer<Action> m_action;
    KeyBinder *m_binder;
    QString m_name;
    int m_flags = 0;
    QList<ActionBinding> m_defaults;
    // For each current binding, the default it stands for, or -1 for a user alias.
    QList<int> m_origins;
    QList<int> m_loaded;
    QList<ActionBindingEdit *> m_edits;
    QLabel *m_label = nullptr;
    QPushButton *m_removeButton = nullptr;
    QVBoxLayout *m_editLayout = nullptr;
};
