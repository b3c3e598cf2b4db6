#pragma once

#include "commands/basecommand.h"

#include <QList>
#include <QStringList>

#include <memory>

class GraphicsImageItem;
class GraphicsItem;
class Picture;

// Records the pictures and files that relinking gave to missing images, so the change can be
// undone (the items are missing again, linking the files they linked before) and redone (each
// gets its recorded picture, shared, and its new file).
class RelinkCommand : public BaseCommand {
    Q_OBJECT

public:
    // previousSources: the file each item linked before, in the items' order; the items' own
    // when not given.
    explicit RelinkCommand(
        const QList<GraphicsItem *> &items, const QStringList &previousSources = QStringList());
    ~RelinkCommand() override;

    void redo() override;
    void undo() override;

private:
    QList<GraphicsImageItem *> m_items;
    QList<std::shared_ptr<Picture>> m_pictures;
    QStringList m_sources;
    QStringList m_previousSources;
};
