#include "ui/relinkdialog.h"

#include "ui/baseframe.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum Column { Reason, Path, Solution };
constexpr int statusRole = Qt::UserRole;
constexpr int messageRole = Qt::UserRole + 1;

} // namespace

RelinkDialog::RelinkDialog(
    const QList<RelinkTree::MissingImage> &images, bool showOnLoad, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Missing External Images"));
    setMinimumSize(600, 350);

    auto *explanation = new QLabel(tr("These pictures link to files that could not be read. "
                                      "Point at where a file went, or at the folder a whole "
                                      "folder of them was moved to."),
        this);
    explanation->setWordWrap(true);

    m_tree = new QTreeWidget(this);
    m_tree->setColumnCount(3);
    m_tree->setHeaderLabels({ tr("Reason"), tr("Path"), tr("Solution") });
    m_tree->setSelectionMode(QAbstractItemView::NoSelection);
    m_tree->header()->setSectionResizeMode(Path, QHeaderView::Stretch);
    m_tree->header()->setStretchLastSection(false);
    for (const RelinkTree::Group &group : RelinkTree::build(images))
        addGroup(group, nullptr);
    m_tree->expandAll();
    m_tree->resizeColumnToContents(Reason);
    m_tree->resizeColumnToContents(Solution);

    m_removeUnresolved = new QCheckBox(tr("Remove the pictures still missing when done"), this);
    m_showOnLoad = new QCheckBox(tr("Show this when a board opens with missing pictures"), this);
    m_showOnLoad->setChecked(showOnLoad);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(tr("Done"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(BaseFrame::frameDialog(this));
    layout->addWidget(explanation);
    layout->addWidget(m_tree);
    layout->addWidget(m_removeUnresolved);
    layout->addWidget(m_showOnLoad);
    layout->addWidget(buttons);
}

void RelinkDialog::addGroup(const RelinkTree::Group &group, QTreeWidgetItem *parent)
{
    auto *row = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_tree);
    row->setText(Path, group.path);
    auto *relinkFolder = new QPushButton(tr("Relink folder..."), m_tree);
    m_tree->setItemWidget(row, Solution, relinkFolder);
    connect(relinkFolder, &QPushButton::clicked, this,
        [this, group] { emit massRelinkRequested(group); });

    for (const RelinkTree::Group &subgroup : group.subgroups)
        addGroup(subgroup, row);
    for (const RelinkTree::MissingImage &image : group.images) {
        auto *imageRow = new QTreeWidgetItem(row);
        imageRow->setText(Path, image.path.mid(group.path.size()));
        imageRow->setToolTip(Path, image.path);
        setStatus(imageRow, image.result.code, image.result.message);
        for (int id : image.itemIds)
            m_rows.insert(id, imageRow);
        auto *relink = new QPushButton(tr("Relink..."), m_tree);
        m_tree->setItemWidget(imageRow, Solution, relink);
        connect(
            relink, &QPushButton::clicked, this, [this, image] { emit relinkRequested(image); });
    }
}

QString RelinkDialog::statusText(int status, const QString &message)
{
    switch (status) {
    case Relinking:
        return tr("Re-linking...");
    case Relinked:
        return tr("Successfully re-linked!");
    case NotFound:
        return tr("Could not find image on disk.");
    default:
        return tr("Failed to load file: %0").arg(message);
    }
}

void RelinkDialog::setStatus(QTreeWidgetItem *row, int status, const QString &message)
{
    row->setData(Reason, statusRole, status);
    row->setData(Reason, messageRole, message);
    const QString text = statusText(status, message);
    // The column shows the gist; the tooltip the whole reason.
    row->setText(Reason, status == Unreadable ? tr("Unreadable") : text);
    row->setToolTip(Reason, text);
}

void RelinkDialog::setRelinking(const QList<int> &itemIds)
{
    for (int id : itemIds) {
        if (QTreeWidgetItem *row = m_rows.value(id))
            setStatus(row, Relinking, QString());
    }
}

void RelinkDialog::setResult(const QList<int> &itemIds, const PictureFile::LoadResult &result)
{
    for (int id : itemIds) {
        if (QTreeWidgetItem *row = m_rows.value(id))
            setStatus(row, result.code, result.message);
    }
}

int RelinkDialog::status(int itemId) const
{
    const QTreeWidgetItem *row = m_rows.value(itemId);
    return row ? row->data(Reason, statusRole).toInt() : NotFound;
}

QString RelinkDialog::statusText(int itemId) const
{
    const QTreeWidgetItem *row = m_rows.value(itemId);
    return row ? row->toolTip(Reason) : QString();
}

void RelinkDialog::done(int result)
{
    // Closed by its button, the Escape key or the window's close: whatever was relinked must
    // become an undoable step either way.
    if (!m_finished) {
        m_finished = true;
        emit relinkingDone(m_removeUnresolved->isChecked(), m_showOnLoad->isChecked());
    }
    QDialog::done(result);
}
