#pragma once

#include "persistence/relinktree.h"

#include <QDialog>
#include <QHash>

class QCheckBox;
class QTreeWidget;
class QTreeWidgetItem;

// Lists a board's missing pictures by the folders they were in, offers to relink one file or a
// whole folder, and shows how each attempt went. It does not block the window: the board stays
// usable while the user looks for the files.
class RelinkDialog : public QDialog {
    Q_OBJECT

public:
    // A row's state: being relinked, or the code of its last result.
    enum Status { Relinking = -1, Relinked = 0, NotFound = 1, Unreadable = 2 };

    RelinkDialog(
        const QList<RelinkTree::MissingImage> &images, bool showOnLoad, QWidget *parent = nullptr);

    // The rows of these items: relinking started, or its result arrived.
    void setRelinking(const QList<int> &itemIds);
    void setResult(const QList<int> &itemIds, const PictureFile::LoadResult &result);

    int status(int itemId) const;
    QString statusText(int itemId) const;
    static QString statusText(int status, const QString &message);

signals:
    void relinkRequested(const RelinkTree::MissingImage &image);
    void massRelinkRequested(const RelinkTree::Group &group);
    // The dialog was closed, however: what was relinked becomes one undoable step.
    void relinkingDone(bool removeUnresolved, bool showOnLoad);

protected:
    void done(int result) override;

private:
    void addGroup(const RelinkTree::Group &group, QTreeWidgetItem *parent);
    void setStatus(QTreeWidgetItem *row, int status, const QString &message);

    QTreeWidget *m_tree = nullptr;
    QCheckBox *m_removeUnresolved = nullptr;
    QCheckBox *m_showOnLoad = nullptr;
    QHash<int, QTreeWidgetItem *> m_rows;
    bool m_finished = false;
};
