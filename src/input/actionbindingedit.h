#pragma once

#include "input/actionbinding.h"

#include <QStringList>
#include <QWidget>

#include <optional>

class KeyBinder;
class KeyBinding;
class QLabel;
class QPushButton;

// One binding of a key-binder row: shows it, and opens the dialog that rebinds it (context,
// mouse buttons, keys), warning about bindings already in use and about binding the left button
// alone. Its index in the row is its settings suffix.
class ActionBindingEdit : public QWidget {
    Q_OBJECT

public:
    ActionBindingEdit(KeyBinding *row, int index, KeyBinder *binder, QWidget *parent = nullptr);

    QString name() const;
    int index() const { return m_index; }
    QString keySuffix() const;
    ActionBinding binding() const;

    void updateText();
    // Asks, then removes this binding from its row.
    void confirmRemove();

    // Shows the rebinding dialog for the row's binding at index (-1: a new alias) and asks the
    // confirmations it needs. Empty when the user cancelled anywhere.
    static std::optional<ActionBinding> askForBinding(
        QWidget *parent, KeyBinding *row, int index, KeyBinder *binder, const QString &title);

    // The left button alone reaches every button and field of the interface.
    static bool needsLeftButtonWarning(const ActionBinding &binding);

signals:
    void bindingRebound(ActionBindingEdit *bindingEdit);

public slots:
    void showSetDialog();
    void rebind(const ActionBinding &newBinding);
    void updateBoundWarning();
    void handleLinkClicked(const QString &link);
    void resetEditsDefault();

private:
    KeyBinding *m_row;
    int m_index;
    KeyBinder *m_binder;
    QPushButton *m_button;
    QLabel *m_warning;
};
