#pragma once

#include "input/actionbinding.h"

#include <QHash>
#include <QMap>
#include <QPointer>
#include <QWidget>

class Action;
class KeyBinding;
class QTabWidget;
class QVBoxLayout;
class TimedLineEdit;

// The store and editor of every user binding: one row per listed action, grouped in one tab per
// category, persisted under "Key_Bindings" in the settings file. It watches the ActionHandler,
// so every listed action gets its row (and its stored bindings) the moment it is created; the
// actions that exist before the binder are taken over at construction. Conflicts are reported
// as "KeyBinder: " warnings and never refused. GUI thread only.
class KeyBinder : public QWidget {
    Q_OBJECT

public:
    explicit KeyBinder(QWidget *parent = nullptr);
    ~KeyBinder() override;

    // The binder of the process: the first one constructed, or one created on first use.
    static KeyBinder *instance();

    KeyBinding *row(const QString &name) const { return m_rows.value(name); }
    QStringList categories() const;
    QString labelOf(const QString &name) const { return m_labels.value(name); }

    // Further default bindings of an action, restored with the others.
    void addDefaultAlias(const QString &name, const ActionBinding &binding);
    // A user alias, written to the settings file.
    void addAlias(const QString &name, const ActionBinding &binding);
    void removeAlias(const QString &name, const ActionBinding &binding);

    // Actions other than excludedName whose bindings equal this one in keys and buttons and
    // that no condition keeps apart from it.
    QStringList actionsUsing(const ActionBinding &binding, const QString &excludedName) const;
    // Removes the binding from every such action (an only binding is emptied instead).
    void unbindFromOthers(const ActionBinding &binding, const QString &excludedName);
    // "Binding is already in use by:" and one link per action.
    QString inUseHtml(const QStringList &names) const;
    void showAction(const QString &name);

    // Settings written before 1.8.0 chose the middle button's job (0 delete, 1 pan, 2 zoom).
    // The choice becomes bindings as soon as the actions concerned exist.
    void upgradeScrollFunctionality(int scrollFunctionality);

    // Every current binding as an HTML document, for the "print-keybindings" option.
    QString toHtml() const;

    // Both bindings equal in keys and buttons, and no condition that both carry expects
    // different values of them.
    static bool bindingsCollide(const ActionBinding &first, const ActionBinding &second);

public slots:
    // Asks first.
    void restoreDefaults();
    void restoreAllDefaults();
    void addAction(Action *action);
    void removeAction(Action *action);
    void addCategoryTab(const QString &categoryName);
    void filterTabs(const QString &filter);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void applyPending(const QString &name);
    void warnDefaultConflicts(const QString &name, const ActionBinding &binding) const;
    void warnLoadedConflicts(KeyBinding *row) const;

    QMap<QString, QVBoxLayout *> m_categoryTabs;
    QHash<QString, KeyBinding *> m_rows;
    QHash<QString, QString> m_labels;
    QHash<QString, QString> m_categories;
    QHash<QString, QList<ActionBinding>> m_pendingRemovals;
    QHash<QString, QList<ActionBinding>> m_pendingAdditions;

    TimedLineEdit *m_filter = nullptr;
    QTabWidget *m_tabs = nullptr;
};
