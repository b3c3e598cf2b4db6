#include "input/keybinder.h"

#include "input/action.h"
#include "input/actionhandler.h"
#include "input/actionnames.h"
#include "input/inputlog.h"
#include "input/keybinding.h"
#include "input/timedlineedit.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

KeyBinder *s_instance = nullptr;

void warn(const QString &message)
{
    qCWarning(lcInput, "%s", qUtf8Printable(message));
}

QString quoted(const QString &text)
{
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

} // namespace

KeyBinder::KeyBinder(QWidget *parent)
    : QWidget(parent)
    , m_filter(new TimedLineEdit(this))
    , m_tabs(new QTabWidget(this))
{
    if (!s_instance)
        s_instance = this;
    setObjectName(QStringLiteral("keyBinder"));
    auto *layout = new QVBoxLayout(this);
    m_filter->setPlaceholderText(tr("Filter"));
    setFocusProxy(m_filter);
    layout->addWidget(m_filter);
    layout->addWidget(m_tabs, 1);
    auto *restore = new QPushButton(tr("Restore Defaults"), this);
    layout->addWidget(restore, 0, Qt::AlignRight);
    connect(m_filter, &TimedLineEdit::timedTextChanged, this, &KeyBinder::filterTabs);
    connect(restore, &QPushButton::clicked, this, &KeyBinder::restoreDefaults);

    ActionHandler *handler = ActionHandler::instance();
    connect(handler, &ActionHandler::actionCreated, this, &KeyBinder::addAction);
    connect(handler, &ActionHandler::actionRemoved, this, &KeyBinder::removeAction);
    const QList<Action *> existing = handler->actions();
    for (Action *action : existing)
        addAction(action);
}

void KeyBinder::showEvent(QShowEvent *event)
{
    // The clear button's icon comes from the style, which reads it by a bare file name and so
    // loads every image plugin: the binder exists from start-up, its page is seldom shown.
    m_filter->setClearButtonEnabled(true);
    QWidget::showEvent(event);
}

KeyBinder::~KeyBinder()
{
    if (s_instance == this)
        s_instance = nullptr;
}

KeyBinder *KeyBinder::instance()
{
    if (!s_instance && QCoreApplication::instance()) {
        auto *binder = new KeyBinder;
        // A widget must go before the application object does.
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, binder,
            &QObject::deleteLater);
    }
    return s_instance;
}

QStringList KeyBinder::categories() const
{
    return m_categoryTabs.keys();
}

void KeyBinder::addCategoryTab(const QString &categoryName)
{
    if (m_categoryTabs.contains(categoryName))
        return;
    auto *scroll = new QScrollArea(m_tabs);
    scroll->setWidgetResizable(true);
    auto *page = new QWidget(scroll);
    auto *layout = new QVBoxLayout(page);
    layout->addStretch(1);
    scroll->setWidget(page);
    // Tabs stay in the sorted order of their names.
    const QStringList names = m_categoryTabs.keys();
    int position = 0;
    while (position < names.size() && names.at(position) < categoryName)
        ++position;
    m_tabs->insertTab(position, scroll, categoryName);
    m_categoryTabs.insert(categoryName, layout);
}

void KeyBinder::addAction(Action *action)
{
    if (!action || !action->isListed())
        return;
    const QString name = action->name();
    const ActionBinding binding = action->binding(0);
    if (KeyBinding *existing = m_rows.value(name)) {
        const ActionBinding first = existing->defaultBindings().value(0);
        if (first.keySequence != binding.keySequence || first.mouseButtons != binding.mouseButtons
            || first.context != binding.context || first.type != binding.type)
            warn(QStringLiteral("KeyBinder: Binding ") + quoted(name)
                + QStringLiteral(" was already added to the keybinder but with another default "
                                 "binding. Make sure separate actions don't use the same "
                                 "name."));
        return;
    }

    warnDefaultConflicts(name, binding);
    const QString category = action->category();
    addCategoryTab(category);
    QVBoxLayout *layout = m_categoryTabs.value(category);
    auto *row = new KeyBinding(action, this, layout->parentWidget());
    m_rows.insert(name, row);
    m_labels.insert(name, action->displayText());
    m_categories.insert(name, category);
    // Rows sorted by label, before the closing stretch.
    int position = 0;
    while (position < layout->count() - 1) {
        auto *other = qobject_cast<KeyBinding *>(layout->itemAt(position)->widget());
        if (!other || other->label().compare(row->label(), Qt::CaseInsensitive) > 0)
            break;
        ++position;
    }
    layout->insertWidget(position, row);

    row->load();
    warnLoadedConflicts(row);
    applyPending(name);
}

void KeyBinder::removeAction(Action *action)
{
    if (!action)
        return;
    KeyBinding *row = m_rows.value(action->name());
    if (!row || row->action() != action)
        return;
    m_rows.remove(action->name());
    m_labels.remove(action->name());
    m_categories.remove(action->name());
    // Later: one of the row's own dialogs may be what is running now.
    row->hide();
    row->deleteLater();
}

void KeyBinder::filterTabs(const QString &filter)
{
    for (auto it = m_categoryTabs.cbegin(); it != m_categoryTabs.cend(); ++it) {
        QVBoxLayout *layout = it.value();
        bool anyVisible = false;
        for (int i = 0; i < layout->count(); ++i) {
            auto *row = qobject_cast<KeyBinding *>(layout->itemAt(i)->widget());
            if (!row)
                continue;
            const bool visible = filter.isEmpty()
                || row->label().contains(filter, Qt::CaseInsensitive)
                || row->name().contains(filter, Qt::CaseInsensitive);
            row->setVisible(visible);
            anyVisible |= visible;
        }
        const int tab = m_tabs->indexOf(layout->parentWidget()->parentWidget()->parentWidget());
        if (tab >= 0)
            m_tabs->setTabVisible(tab, anyVisible);
    }
}

void KeyBinder::showAction(const QString &name)
{
    KeyBinding *row = m_rows.value(name);
    if (!row)
        return;
    m_filter->clear();
    filterTabs(QString());
    for (int i = 0; i < m_tabs->count(); ++i) {
        auto *scroll = qobject_cast<QScrollArea *>(m_tabs->widget(i));
        if (scroll && scroll->widget()->isAncestorOf(row)) {
            m_tabs->setCurrentIndex(i);
            scroll->ensureWidgetVisible(row);
        }
    }
}

void KeyBinder::restoreDefaults()
{
    if (QMessageBox::question(this, tr("Confirmation"),
            tr("Are you sure you want to restore every key binding to its "
               "default?"))
        == QMessageBox::Yes)
        restoreAllDefaults();
}

void KeyBinder::restoreAllDefaults()
{
    const QList<KeyBinding *> rows = m_rows.values();
    for (KeyBinding *row : rows)
        row->restoreDefaults();
}

void KeyBinder::addDefaultAlias(const QString &name, const ActionBinding &binding)
{
    KeyBinding *row = m_rows.value(name);
    if (!row) {
        warn(QStringLiteral("KeyBinder: Tried to default add alias for ") + quoted(name)
            + QStringLiteral(" which was not found."));
        return;
    }
    warnDefaultConflicts(name, binding);
    row->addDefaultBinding(binding);
    applyPending(name);
}

void KeyBinder::addAlias(const QString &name, const ActionBinding &binding)
{
    KeyBinding *row = m_rows.value(name);
    if (!row) {
        warn(QStringLiteral("KeyBinder: Tried to add alias for ") + quoted(name)
            + QStringLiteral(" which was not found."));
        return;
    }
    const QStringList users = actionsUsing(binding, name);
    if (!users.isEmpty())
        warn(QStringLiteral("KeyBinder: Tried to add alias for ") + quoted(name)
            + QStringLiteral(" but ") + quoted(binding.displayText())
            + QStringLiteral(" was already bound to ") + quoted(users.first())
            + QStringLiteral("."));
    row->addAlias(binding);
}

void KeyBinder::removeAlias(const QString &name, const ActionBinding &binding)
{
    KeyBinding *row = m_rows.value(name);
    if (!row) {
        warn(QStringLiteral("KeyBinder: Tried to remove alias for ") + quoted(name)
            + QStringLiteral(" which was not found."));
        return;
    }
    const QList<ActionBinding> bindings = row->bindings();
    for (int i = 0; i < bindings.size(); ++i) {
        if (bindings.at(i).conflictsWith(binding)) {
            row->removeAlias(i);
            return;
        }
    }
}

bool KeyBinder::bindingsCollide(const ActionBinding &first, const ActionBinding &second)
{
    if (first.isEmpty() || !first.conflictsWith(second))
        return false;
    const QList<ActionCondition *> conditions = first.conditions();
    for (ActionCondition *condition : conditions) {
        if (second.hasCondition(condition)
            && second.expectedValue(condition) != first.expectedValue(condition))
            return false;
    }
    return true;
}

QStringList KeyBinder::actionsUsing(const ActionBinding &binding, const QString &excludedName) const
{
    QStringList names;
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        if (it.key() == excludedName)
            continue;
        const QList<ActionBinding> bindings = it.value()->bindings();
        for (const ActionBinding &candidate : bindings) {
            if (bindingsCollide(binding, candidate)) {
                names.append(it.key());
                break;
            }
        }
    }
    names.sort();
    return names;
}

void KeyBinder::unbindFromOthers(const ActionBinding &binding, const QString &excludedName)
{
    const QStringList names = actionsUsing(binding, excludedName);
    for (const QString &name : names) {
        KeyBinding *row = m_rows.value(name);
        QList<ActionBinding> bindings = row->bindings();
        for (int i = bindings.size() - 1; i >= 0; --i) {
            if (!bindingsCollide(binding, bindings.at(i)))
                continue;
            if (!row->removeAlias(i)) {
                ActionBinding empty = bindings.at(i);
                empty.keySequence = QKeySequence();
                empty.mouseButtons = Qt::NoButton;
                row->rebind(i, empty);
            }
        }
    }
}

QString KeyBinder::inUseHtml(const QStringList &names) const
{
    QString html = tr("Binding is already in use by:") + QLatin1String("<br>");
    for (const QString &name : names) {
        const QString label = m_labels.value(name, name);
        html += QStringLiteral("<a href=\"") + name.toHtmlEscaped() + QStringLiteral("\">")
            + label.toHtmlEscaped() + QLatin1String("</a><br>");
    }
    return html;
}

void KeyBinder::warnDefaultConflicts(const QString &name, const ActionBinding &binding) const
{
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        if (it.key() == name)
            continue;
        const QList<ActionBinding> defaults = it.value()->defaultBindings();
        for (const ActionBinding &other : defaults) {
            if (bindingsCollide(binding, other)) {
                warn(QStringLiteral("KeyBinder: Binding ") + quoted(name) + QStringLiteral(" (")
                    + binding.displayText() + QStringLiteral(") conflicts with ") + quoted(it.key())
                    + QStringLiteral(". Make sure no default bindings are conflicting to avoid "
                                     "undefined behavior."));
                break;
            }
        }
    }
}

void KeyBinder::warnLoadedConflicts(KeyBinding *row) const
{
    const QList<ActionBinding> bindings = row->bindings();
    const QList<int> loaded = row->loadedIndexes();
    for (int index : loaded) {
        const ActionBinding binding = bindings.value(index);
        for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
            if (it.value() == row)
                continue;
            const QList<ActionBinding> others = it.value()->bindings();
            for (const ActionBinding &other : others) {
                if (!bindingsCollide(binding, other))
                    continue;
                warn(QStringLiteral("KeyBinder: Binding ") + quoted(row->name())
                    + QStringLiteral(" (") + binding.displayText()
                    + QStringLiteral(") has loaded a conflicting binding, conflicts with ")
                    + quoted(it.key()) + QStringLiteral(". (") + other.displayText()
                    + QStringLiteral(") Make sure no bindings are conflicting in the settings "
                                     "file to avoid undefined behavior."));
                break;
            }
        }
    }
}

void KeyBinder::upgradeScrollFunctionality(int scrollFunctionality)
{
    if (scrollFunctionality == 1)
        return;
    const ActionBinding middle(
        ActionBinding::Continuous, QKeySequence(), Qt::MiddleButton, ActionBinding::WindowContext);
    m_pendingRemovals[QLatin1String(ActionNames::Pan)].append(middle);
    if (scrollFunctionality == 2) {
        m_pendingAdditions[QLatin1String(ActionNames::Zoom)].append(middle);
    } else if (scrollFunctionality == 0) {
        ActionBinding triggered = middle;
        triggered.type = ActionBinding::Triggered;
        m_pendingAdditions[QLatin1String(ActionNames::DeleteImages)].append(triggered);
    }
    applyPending(QLatin1String(ActionNames::Pan));
    applyPending(QLatin1String(ActionNames::Zoom));
    applyPending(QLatin1String(ActionNames::DeleteImages));
}

void KeyBinder::applyPending(const QString &name)
{
    KeyBinding *row = m_rows.value(name);
    if (!row)
        return;
    // A removal waits until the binding is there: the pan action's middle button is a default
    // alias that the main window adds after the view registers the action.
    QList<ActionBinding> &removals = m_pendingRemovals[name];
    for (int r = removals.size() - 1; r >= 0; --r) {
        const QList<ActionBinding> bindings = row->bindings();
        for (int i = 0; i < bindings.size(); ++i) {
            if (bindings.at(i).conflictsWith(removals.at(r)) && row->removeAlias(i)) {
                removals.removeAt(r);
                break;
            }
        }
    }
    if (removals.isEmpty())
        m_pendingRemovals.remove(name);

    const QList<ActionBinding> additions = m_pendingAdditions.take(name);
    for (const ActionBinding &addition : additions) {
        const QList<ActionBinding> bindings = row->bindings();
        const bool present = std::any_of(bindings.cbegin(), bindings.cend(),
            [&](const ActionBinding &binding) { return binding.conflictsWith(addition); });
        if (!present)
            row->addAlias(addition);
    }
}

QString KeyBinder::toHtml() const
{
    QString html;
    auto line = [&html](const QString &text) { html += text + QLatin1Char('\n'); };
    line(QStringLiteral("<!DOCTYPE html>"));
    line(QStringLiteral("<html>"));
    line(QStringLiteral("<body>"));
    line(QStringLiteral("<h3 id=\"keybindings-header\">Keybindings</h3>"));
    line(QStringLiteral("<div id=\"control-tables\">"));

    QMap<QString, QMap<QString, KeyBinding *>> byCategory;
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it)
        byCategory[m_categories.value(it.key())].insert(it.key(), it.value());

    // Labels, categories and binding texts are escaped: a binding on "<" must not open a tag.
    for (auto category = byCategory.cbegin(); category != byCategory.cend(); ++category) {
        line(QStringLiteral("\t<div class=\"key-binding-table\">"));
        line(QStringLiteral("\t\t<h3>") + category.key().toHtmlEscaped()
            + QStringLiteral("<br><br></h3>"));
        line(QStringLiteral("\t\t<table>"));
        for (auto row = category->cbegin(); row != category->cend(); ++row) {
            const QString label = m_labels.value(row.key()).toHtmlEscaped();
            const QList<ActionBinding> bindings = row.value()->bindings();
            for (const ActionBinding &binding : bindings)
                line(QStringLiteral("\t\t\t<tr><td>") + label + QStringLiteral("</td><td>")
                    + binding.displayText().toHtmlEscaped() + QStringLiteral("</td></tr>"));
        }
        line(QStringLiteral("\t\t</table>"));
        line(QStringLiteral("\t</div>"));
    }
    line(QStringLiteral("</div>"));
    line(QStringLiteral("</body>"));
    line(QStringLiteral("</html>"));
    return html;
}
