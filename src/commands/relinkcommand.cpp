#include "relinkcommand.h"

#include "scene/graphicsimageitem.h"

RelinkCommand::RelinkCommand(const QList<GraphicsItem *> &items, const QStringList &previousSources)
{
    for (int i = 0; i < items.size(); ++i) {
        if (auto *image = dynamic_cast<GraphicsImageItem *>(items.at(i))) {
            m_items.append(image);
            m_images.append(image->image() ? *image->image() : QPixmap());
            m_sources.append(image->source());
            m_previousSources.append(
                i < previousSources.size() ? previousSources.at(i) : image->source());
        }
    }
}

RelinkCommand::~RelinkCommand() = default;

void RelinkCommand::redo()
{
    for (int i = 0; i < m_items.size(); ++i) {
        const QPixmap &image = m_images.at(i);
        m_items.at(i)->setSource(m_sources.at(i));
        m_items.at(i)->setImage(image.isNull() ? nullptr : new QPixmap(image));
    }
    BaseCommand::redo();
}

void RelinkCommand::undo()
{
    for (int i = 0; i < m_items.size(); ++i) {
        m_items.at(i)->setSource(m_previousSources.at(i));
        m_items.at(i)->setImage(nullptr);
    }
    BaseCommand::undo();
}
