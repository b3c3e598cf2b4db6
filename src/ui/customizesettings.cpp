#include "ui/customizesettings.h"

#include "settings/setting.h"
#include "ui/confirmdialog.h"
#include "ui/uilog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSet>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include <map>

namespace {

// The key table's texts are marked for translation in its own context.
QString translated(const char *text)
{
    return QCoreApplication::translate("GeneralSettings", text);
}

} // namespace

CustomizeSettings::CustomizeSettings(QWidget *parent)
    : QWidget(parent)
    , m_search(new QLineEdit(this))
{
    m_search->setObjectName(QStringLiteral("search"));
    m_search->setPlaceholderText(tr("Search settings"));
    m_search->setClearButtonEnabled(true);
    // Whoever opens the page can type what they look for at once.
    setFocusProxy(m_search);
    connect(m_search, &QLineEdit::textChanged, this, &CustomizeSettings::applyFilter);

    // Ordered by section, so the groups follow the enum whatever the order of the table; rows
    // keep the table's order within their group.
    std::map<GeneralSettings::Section, QGroupBox *> groups;
    for (const GeneralSettings::Definition &entry : GeneralSettings::definitions()) {
        if (entry.section == GeneralSettings::NotShown)
            continue;
        if (entry.type != GeneralSettings::Type::Bool && entry.type != GeneralSettings::Type::Int) {
            Q_ASSERT_X(false, "CustomizeSettings", "a shown key must be a Bool or an Int");
            qCWarning(lcUi) << "The settings page has no editor for" << entry.name;
            continue;
        }
        QGroupBox *&group = groups[entry.section];
        if (!group) {
            group = new QGroupBox(GeneralSettings::sectionTitle(entry.section));
            // A grid, not a form: a grid gives a row whose widgets are hidden no spacing, so the
            // search leaves no gaps.
            new QGridLayout(group);
        }

        Row row;
        row.definition = &entry;
        row.group = group;
        row.setting
            = new Setting(entry.name, entry.defaultValue, GeneralSettings::group(), {}, this);
        row.editor = createEditor(entry, row.setting);
        row.editor->setObjectName(entry.name);
        auto *grid = static_cast<QGridLayout *>(group->layout());
        const int line = grid->rowCount();
        if (entry.type == GeneralSettings::Type::Bool) {
            grid->addWidget(row.editor, line, 0, 1, 2);
        } else {
            row.label = new QLabel(translated(entry.label));
            row.label->setBuddy(row.editor);
            grid->addWidget(row.label, line, 0);
            grid->addWidget(row.editor, line, 1);
        }
        showValue(row);
        connect(row.setting, &Setting::changed, row.editor, [row] { showValue(row); });
        m_rows.append(row);
    }

    auto *content = new QWidget;
    auto *contentLayout = new QVBoxLayout(content);
    for (const auto &section : groups) {
        contentLayout->addWidget(section.second);
        m_groups.append(section.second);
    }
    contentLayout->addStretch();
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(content);

    auto *restore = new QPushButton(tr("Restore Defaults"), this);
    restore->setObjectName(QStringLiteral("restoreDefaults"));
    connect(restore, &QPushButton::clicked, this, &CustomizeSettings::restoreDefaults);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(restore);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_search);
    layout->addWidget(scroll, 1);
    layout->addLayout(buttons);
}

QWidget *CustomizeSettings::createEditor(const GeneralSettings::Definition &entry, Setting *setting)
{
    // Connected after the editor is filled: setting its range or items emits changes that are
    // not the user's.
    if (entry.type == GeneralSettings::Type::Bool) {
        auto *box = new QCheckBox(translated(entry.label));
        connect(box, &QCheckBox::toggled, setting, &Setting::setValue);
        return box;
    }
    if (entry.choices.isEmpty()) {
        auto *spin = new QSpinBox;
        spin->setRange(entry.minimum, entry.maximum);
        if (entry.suffix)
            spin->setSuffix(translated(entry.suffix));
        // Typing 250 would otherwise store 2 and 25 on the way, and the program acts on each.
        spin->setKeyboardTracking(false);
        connect(spin, QOverload<int>::of(&QSpinBox::valueChanged), setting, &Setting::setValue);
        return spin;
    }
    Q_ASSERT_X(entry.minimum == 0 && entry.maximum == entry.choices.size() - 1, "CustomizeSettings",
        "a combo box's index is the value");
    auto *combo = new QComboBox;
    for (const char *choice : entry.choices)
        combo->addItem(translated(choice));
    connect(
        combo, QOverload<int>::of(&QComboBox::currentIndexChanged), setting, &Setting::setValue);
    return combo;
}

void CustomizeSettings::showValue(const Row &row)
{
    // Showing a value must not store it, least of all one clamped for display.
    const QSignalBlocker blocker(row.editor);
    const QVariant value = row.setting->value();
    if (auto *box = qobject_cast<QCheckBox *>(row.editor))
        box->setChecked(value.toBool());
    else if (auto *spin = qobject_cast<QSpinBox *>(row.editor))
        spin->setValue(GeneralSettings::boundedInt(*row.definition, value));
    else if (auto *combo = qobject_cast<QComboBox *>(row.editor))
        combo->setCurrentIndex(GeneralSettings::boundedInt(*row.definition, value));
}

void CustomizeSettings::applyFilter(const QString &text)
{
    const QString needle = text.trimmed();
    QSet<QGroupBox *> nonEmpty;
    for (const Row &row : qAsConst(m_rows)) {
        const bool shown = needle.isEmpty()
            || row.definition->name.contains(needle, Qt::CaseInsensitive)
            || translated(row.definition->label).contains(needle, Qt::CaseInsensitive);
        row.editor->setVisible(shown);
        if (row.label)
            row.label->setVisible(shown);
        if (shown)
            nonEmpty.insert(row.group);
    }
    for (QGroupBox *group : qAsConst(m_groups))
        group->setVisible(nonEmpty.contains(group));
}

void CustomizeSettings::restoreDefaults()
{
    const int answer = ConfirmDialog::ask(this, tr("Restore Defaults"),
        tr("Return every setting on this page to its default value?"),
        { { tr("Restore Defaults"), QDialogButtonBox::AcceptRole, QDialogButtonBox::NoButton },
            { QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel } });
    if (answer != 0)
        return;
    // Each reset removes the stored value and returns every Setting of the key to its default,
    // ours included, whose changed() then updates the editor.
    for (const Row &row : qAsConst(m_rows))
        row.setting->reset();
}
