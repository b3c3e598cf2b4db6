#include "input/keybinding.h"

#include "input/action.h"
#include "input/actionbindingedit.h"
#include "input/actionhandler.h"
#include "input/keybinder.h"
#include "platform/artwork.h"
#include "settings/settings.h"
#include "settings/settingshandler.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString Group = QStringLiteral("Key_Bindings/");

// 27 button bits: Qt::MouseButtons ends at ExtraButton24.
constexpr int AllButtons = (1 << 27) - 1;

} // namespace

KeyBinding::KeyBinding(Action *action, KeyBinder *binder, QWidget *parent)
    : QWidget(parent)
    , m_action(action)
    , m_binder(binder)
    , m_name(action->name())
    , m_flags(action->flags())
    , m_defaults({ action->binding(0) })
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_label = new QLabel(label(), this);
    m_label->setMinimumWidth(220);
    if (m_flags & Action::AdvancedFlag)
        m_label->setToolTip(tr("Change this binding only if you know what it does."));
    layout->addWidget(m_label, 0, Qt::AlignTop);
    m_editLayout = new QVBoxLayout;
    layout->addLayout(m_editLayout, 1);

    auto *addButton
        = new QPushButton(Artwork::icon(QStringLiteral(":/cf/icons/plus.png")), QString(), this);
    addButton->setToolTip(tr("Add Alias"));
    auto *removeButton
        = new QPushButton(Artwork::icon(QStringLiteral(":/cf/icons/minus.png")), QString(), this);
    removeButton->setToolTip(tr("Remove Alias"));
    // Until the icon set is installed the buttons would be blank.
    if (!QFile::exists(QStringLiteral(":/cf/icons/plus.png")))
        addButton->setText(QStringLiteral("+"));
    if (!QFile::exists(QStringLiteral(":/cf/icons/minus.png")))
        removeButton->setText(QStringLiteral("\u2212"));
    layout->addWidget(addButton, 0, Qt::AlignTop);
    layout->addWidget(removeButton, 0, Qt::AlignTop);
    connect(addButton, &QPushButton::clicked, this, [this] {
        if (!m_action)
            return;
        const std::optional<ActionBinding> chosen
            = ActionBindingEdit::askForBinding(this, this, -1, m_binder, tr("Add alias for %0"));
        if (!chosen)
            return;
        if (m_binder)
            m_binder->unbindFromOthers(*chosen, m_name);
        addAlias(*chosen);
    });
    m_removeButton = removeButton;
    connect(removeButton, &QPushButton::clicked, this, [this] {
        if (!m_edits.isEmpty())
            m_edits.last()->confirmRemove();
    });
}

QString KeyBinding::label() const
{
    return m_action ? m_action->displayText() : QString();
}

QList<ActionBinding> KeyBinding::bindings() const
{
    return m_action ? m_action->bindings() : QList<ActionBinding>();
}

QString KeyBinding::suffix(int index)
{
    return index == 0 ? QString() : QString::number(index);
}

QString KeyBinding::storageKey(const QString &name, const QString &field)
{
    return SettingsHandler::storageKey(Group + name + field);
}

QString KeyBinding::deletedKey(int defaultIndex) const
{
    return storageKey(m_name,
        QStringLiteral("_Default") + QString::number(defaultIndex) + QStringLiteral("_Deleted"));
}

QSettings *KeyBinding::store()
{
    SettingsHandler *handler = SettingsHandler::instance();
    return handler ? handler->store() : nullptr;
}

bool KeyBinding::readStored(
    int index, const ActionBinding &fallback, ActionBinding *binding, bool *readable) const
{
    QSettings *settings = store();
    if (!settings)
        return false;
    const QString prefix = m_name + suffix(index);
    const QString contextKey = storageKey(prefix, QStringLiteral("Context"));
    const QString shortcutKey = storageKey(prefix, QStringLiteral("Shortcut"));
    const QString buttonsKey = storageKey(prefix, QStringLiteral("Buttons"));
    if (!settings->contains(contextKey) && !settings->contains(shortcutKey)
        && !settings->contains(buttonsKey))
        return false;

    // The file may have been edited by hand: anything that does not read back as a binding
    // leaves the default in place.
    *binding = fallback;
    *readable = false;
    bool ok = true;
    const int context = settings->value(contextKey, fallback.context).toInt(&ok);
    if (!ok || context < ActionBinding::WidgetContext
        || context > ActionBinding::SystemGlobalContext)
        return true;
    const int buttons = settings->value(buttonsKey, 0).toInt(&ok);
    if (!ok || buttons < 0 || buttons > AllButtons)
        return true;
    const QString shortcut = settings->value(shortcutKey).toString();
    const QKeySequence keys = QKeySequence::fromString(shortcut, QKeySequence::PortableText);
    if (!shortcut.isEmpty() && (keys.isEmpty() || keys[0] == Qt::Key_unknown))
        return true;

    binding->context = context;
    binding->mouseButtons = Qt::MouseButtons(buttons);
    binding->keySequence = keys;
    *readable = true;
    return true;
}

void KeyBinding::load()
{
    QList<ActionBinding> keys;
    m_origins.clear();
    m_loaded.clear();
    QSettings *settings = store();
    for (int n = 0; n < m_defaults.size(); ++n) {
        if (settings && settings->value(deletedKey(n), false).toBool())
            continue;
        keys.append(m_defaults.at(n));
        m_origins.append(n);
    }
    for (int i = 0;; ++i) {
        const ActionBinding fallback = i < keys.size() ? keys.at(i) : m_defaults.first();
        ActionBinding stored;
        bool readable = false;
        if (!readStored(i, fallback, &stored, &readable))
            break;
        if (!readable && i >= keys.size())
            continue; // an unreadable alias has no default to fall back on
        if (readable)
            m_loaded.append(keys.size() > i ? i : keys.size());
        if (i < keys.size()) {
            keys[i] = stored;
        } else {
            keys.append(stored);
            m_origins.append(-1);
        }
    }
    apply(keys);
}

void KeyBinding::addDefaultBinding(const ActionBinding &binding)
{
    m_defaults.append(binding);
    load();
}

ActionBinding KeyBinding::withActionConditions(const ActionBinding &keys, int index) const
{
    ActionBinding result = keys;
    if (!m_action || m_action->bindingCount() == 0)
        return result;
    const ActionBinding source = m_action->binding(index < m_action->bindingCount() ? index : 0);
    const ActionHandler *handler = ActionHandler::existingInstance();
    const QList<ActionCondition *> conditions = source.conditions();
    for (ActionCondition *condition : conditions) {
        // The handler's own conditions depend on the kind; it adds the right set itself.
        if (handler && handler->isImplicitCondition(condition) && !keys.hasCondition(condition))
            continue;
        if (!result.hasCondition(condition))
            result.addCondition(condition, source.expectedValue(condition));
    }
    result.consumesInput = m_flags & Action::ConsumesInputFlag;
    return result;
}

void KeyBinding::apply(const QList<ActionBinding> &keys)
{
    if (m_action) {
        QList<ActionBinding> bindings;
        for (int i = 0; i < keys.size(); ++i)
            bindings.append(withActionConditions(keys.at(i), i));
        if (bindings != m_action->bindings())
            m_action->setBindings(bindings);
    }
    rebuildEdits();
}

void KeyBinding::save()
{
    QSettings *settings = store();
    if (!settings || !m_action)
        return;
    const QList<ActionBinding> current = m_action->bindings();
    for (int i = 0; i < current.size(); ++i) {
        const QString prefix = m_name + suffix(i);
        const ActionBinding &binding = current.at(i);
        settings->setValue(storageKey(prefix, QStringLiteral("Context")), binding.context);
        settings->setValue(storageKey(prefix, QStringLiteral("Shortcut")),
            binding.keySequence.toString(QKeySequence::PortableText));
        settings->setValue(
            storageKey(prefix, QStringLiteral("Buttons")), int(binding.mouseButtons));
    }
    // Bindings that moved down or went away leave their old keys behind.
    for (int i = current.size();; ++i) {
        const QString prefix = m_name + suffix(i);
        const QString contextKey = storageKey(prefix, QStringLiteral("Context"));
        const QString shortcutKey = storageKey(prefix, QStringLiteral("Shortcut"));
        const QString buttonsKey = storageKey(prefix, QStringLiteral("Buttons"));
        if (!settings->contains(contextKey) && !settings->contains(shortcutKey)
            && !settings->contains(buttonsKey))
            break;
        settings->remove(contextKey);
        settings->remove(shortcutKey);
        settings->remove(buttonsKey);
    }
}

void KeyBinding::rebind(int index, const ActionBinding &keys)
{
    if (!m_action || index < 0 || index >= m_action->bindingCount())
        return;
    ActionBinding binding = m_action->binding(index);
    binding.keySequence = keys.keySequence;
    binding.mouseButtons = keys.mouseButtons;
    binding.context = keys.context;
    m_action->setBinding(index, binding);
    save();
    rebuildEdits();
    emit bindingsEdited(this);
}

void KeyBinding::addAlias(const ActionBinding &keys)
{
    if (!m_action)
        return;
    m_action->addBinding(withActionConditions(keys, 0));
    m_origins.append(-1);
    save();
    rebuildEdits();
    emit bindingsEdited(this);
}

bool KeyBinding::removeAlias(int index)
{
    if (!m_action || index < 0 || index >= m_action->bindingCount() || m_action->bindingCount() < 2)
        return false;
    const int origin = m_origins.value(index, -1);
    if (origin >= 0) {
        if (QSettings *settings = store())
            settings->setValue(deletedKey(origin), true);
    }
    if (index < m_origins.size())
        m_origins.removeAt(index);
    m_action->removeBinding(index);
    save();
    rebuildEdits();
    emit bindingsEdited(this);
    return true;
}

void KeyBinding::restoreDefaults()
{
    if (QSettings *settings = store()) {
        for (int n = 0; n < m_defaults.size(); ++n)
            settings->remove(deletedKey(n));
        for (int i = 0;; ++i) {
            const QString prefix = m_name + suffix(i);
            const QString keys[] = { storageKey(prefix, QStringLiteral("Context")),
                storageKey(prefix, QStringLiteral("Shortcut")),
                storageKey(prefix, QStringLiteral("Buttons")) };
            bool any = false;
            for (const QString &key : keys) {
                any |= settings->contains(key);
                settings->remove(key);
            }
            if (!any && i >= m_defaults.size())
                break;
        }
    }
    load();
    emit bindingsEdited(this);
}

void KeyBinding::rebuildEdits()
{
    const int count = m_action ? m_action->bindingCount() : 0;
    while (m_edits.size() > count)
        delete m_edits.takeLast();
    while (m_edits.size() < count) {
        auto *edit = new ActionBindingEdit(this, m_edits.size(), m_binder, this);
        m_editLayout->addWidget(edit);
        m_edits.append(edit);
    }
    for (ActionBindingEdit *edit : qAsConst(m_edits))
        edit->updateText();
    if (m_label)
        m_label->setText(label());
    if (m_removeButton)
        m_removeButton->setEnabled(count > 1);
}
