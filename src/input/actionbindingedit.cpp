#include "input/actionbindingedit.h"

#include "input/action.h"
#include "input/actionhandler.h"
#include "input/keybinder.h"
#include "input/keybinding.h"
#include "input/keyedit.h"
#include "input/mouseedit.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

ActionBindingEdit::ActionBindingEdit(KeyBinding *row, int index, KeyBinder *binder, QWidget *parent)
    : QWidget(parent)
    , m_row(row)
    , m_index(index)
    , m_binder(binder)
    , m_button(new QPushButton(this))
    , m_warning(new QLabel(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_button, 1);
    layout->addWidget(m_warning);
    m_warning->setTextFormat(Qt::RichText);
    m_warning->setVisible(false);
    connect(m_warning, &QLabel::linkActivated, this, &ActionBindingEdit::handleLinkClicked);
    connect(m_button, &QPushButton::clicked, this, &ActionBindingEdit::showSetDialog);
    updateText();
}

QString ActionBindingEdit::name() const
{
    return m_row->name();
}

QString ActionBindingEdit::keySuffix() const
{
    return KeyBinding::suffix(m_index);
}

ActionBinding ActionBindingEdit::binding() const
{
    return m_row->bindings().value(m_index);
}

void ActionBindingEdit::updateText()
{
    const ActionBinding current = binding();
    QString text = current.displayText();
    if (current.context == ActionBinding::SystemGlobalContext && !text.isEmpty())
        text += QLatin1Char(' ') + tr("(global)");
    m_button->setText(text.isEmpty() ? tr("None") : text);
    updateBoundWarning();
}

void ActionBindingEdit::updateBoundWarning()
{
    if (!m_binder)
        return;
    const QStringList users = m_binder->actionsUsing(binding(), name());
    m_warning->setVisible(!users.isEmpty());
    if (users.isEmpty())
        return;
    m_warning->setText(m_binder->inUseHtml(users));
}

void ActionBindingEdit::handleLinkClicked(const QString &link)
{
    if (m_binder)
        m_binder->showAction(link);
}

bool ActionBindingEdit::needsLeftButtonWarning(const ActionBinding &binding)
{
    return binding.mouseButtons == Qt::LeftButton && binding.keySequence.isEmpty();
}

void ActionBindingEdit::rebind(const ActionBinding &newBinding)
{
    if (m_binder) {
        const QStringList users = m_binder->actionsUsing(newBinding, name());
        if (!users.isEmpty())
            m_binder->unbindFromOthers(newBinding, name());
    }
    m_row->rebind(m_index, newBinding);
    updateText();
    emit bindingRebound(this);
}

void ActionBindingEdit::resetEditsDefault()
{
    const QList<ActionBinding> defaults = m_row->defaultBindings();
    if (m_index < defaults.size())
        rebind(defaults.at(m_index));
}

void ActionBindingEdit::confirmRemove()
{
    const QString label = m_row->label();
    if (QMessageBox::question(this, tr("Confirmation"),
            tr("Are you sure you want to remove the alias %0 from %1?")
                .replace(QLatin1String("%0"), binding().displayText())
                .replace(QLatin1String("%1"), label))
        == QMessageBox::Yes)
        m_row->removeAlias(m_index);
}

void ActionBindingEdit::showSetDialog()
{
    const std::optional<ActionBinding> chosen
        = askForBinding(this, m_row, m_index, m_binder, tr("Rebind %0"));
    if (chosen)
        rebind(*chosen);
}

std::optional<ActionBinding> ActionBindingEdit::askForBinding(
    QWidget *parent, KeyBinding *row, int index, KeyBinder *binder, const QString &title)
{
    const QString label = row->label();
    const QString name = row->name();
    // A new alias starts empty, with the kind and context of the primary binding.
    ActionBinding start = row->bindings().value(index < 0 ? 0 : index);
    if (index < 0) {
        start.keySequence = QKeySequence();
        start.mouseButtons = Qt::NoButton;
    }
    QDialog dialog(parent);
    dialog.setWindowTitle(QString(title).replace(QLatin1String("%0"), label));
    auto *layout = new QVBoxLayout(&dialog);
    auto *form = new QFormLayout;
    layout->addLayout(form);

    auto *context = new QComboBox(&dialog);
    context->addItem(tr("Window"), int(ActionBinding::WindowContext));
    context->addItem(tr("Application"), int(ActionBinding::ApplicationContext));
    context->addItem(tr("System global shortcut"), int(ActionBinding::SystemGlobalContext));
    auto *mouse = new MouseEdit(&dialog);
    auto *keys = new KeyEdit(&dialog);
    form->addRow(tr("Context"), context);
    form->addRow(tr("Mouse buttons"), mouse);
    form->addRow(tr("Keyboard keys"), keys);
    auto *warning = new QLabel(&dialog);
    warning->setTextFormat(Qt::RichText);
    layout->addWidget(warning);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &dialog);
    QPushButton *apply = buttons->addButton(tr("Apply"), QDialogButtonBox::AcceptRole);
    QPushButton *defaults = buttons->addButton(tr("Default"), QDialogButtonBox::ResetRole);
    layout->addWidget(buttons);

    auto show = [=](const ActionBinding &shown) {
        const int contextIndex = context->findData(shown.context);
        context->setCurrentIndex(contextIndex < 0 ? 0 : contextIndex);
        mouse->setButtons(shown.mouseButtons);
        keys->setKeySequence(shown.keySequence);
    };
    show(start);

    auto current = [=]() {
        ActionBinding result = start;
        result.context = context->currentData().toInt();
        result.mouseButtons = mouse->buttons();
        result.keySequence = keys->keySequence();
        return result;
    };
    auto refreshWarning = [=]() {
        const QStringList users = binder ? binder->actionsUsing(current(), name) : QStringList();
        warning->setText(users.isEmpty() ? QString() : binder->inUseHtml(users));
    };
    connect(mouse, &MouseEdit::buttonsChanged, &dialog, refreshWarning);
    connect(keys, &KeyEdit::keySequenceChanged, &dialog, refreshWarning);
    connect(context, qOverload<int>(&QComboBox::currentIndexChanged), &dialog, refreshWarning);
    const QList<ActionBinding> defaultBindings = row->defaultBindings();
    defaults->setEnabled(index >= 0 && index < defaultBindings.size());
    connect(defaults, &QPushButton::clicked, &dialog, [=] {
        show(defaultBindings.value(index));
        refreshWarning();
    });
    connect(apply, &QPushButton::clicked, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    refreshWarning();

    // The presses that define the new binding must not run actions meanwhile.
    ActionHandler *handler = ActionHandler::instance();
    handler->addIgnoredObject(mouse);
    handler->addIgnoredObject(keys);
    const int result = dialog.exec();
    handler->removeIgnoredObject(mouse);
    handler->removeIgnoredObject(keys);
    if (result != QDialog::Accepted)
        return std::nullopt;

    const ActionBinding chosen = current();
    if (needsLeftButtonWarning(chosen)
        && QMessageBox::warning(parent, tr("Bind Warning"),
               tr("Are you sure you want to bind %0 to the left mouse button only? Doing this "
                  "might impair your ability to click on things in the interface like buttons "
                  "or input fields. If you do this and it conflicts with the previously "
                  "mentioned actions you will have to reset the settings by deleting the "
                  "settings file.")
                   .replace(QLatin1String("%0"), label),
               QMessageBox::Yes | QMessageBox::No)
            != QMessageBox::Yes)
        return std::nullopt;

    const QStringList users = binder ? binder->actionsUsing(chosen, name) : QStringList();
    if (!users.isEmpty()) {
        QStringList labels;
        for (const QString &user : users)
            labels.append(binder->labelOf(user).toHtmlEscaped());
        const QString question = tr("Binding is already in use by:") + QLatin1String("<br><br>")
            + labels.join(QLatin1String("<br>")) + QLatin1String("<br>")
            + (users.size() == 1 ? tr("Are you sure you want to unbind %0?")
                                       .replace(QLatin1String("%0"), labels.first())
                                 : tr("Are you sure you want to unbind them?"));
        if (QMessageBox::question(parent, tr("Confirmation"), question) != QMessageBox::Yes)
            return std::nullopt;
    }
    return chosen;
}
