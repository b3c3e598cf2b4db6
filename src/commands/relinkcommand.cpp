#include "relinkcommand.h"

#include "picture/picture.h"
#include "scene/graphicsimageitem.h"

RelinkCommand::RelinkCommand(const QList<GraphicsItem *> &items, const QStringList &previousSources)
{
    for (int i = 0; i < items.size(); ++i) {
        if (auto *image = dynamic_cast<GraphicsImageItem *>(items.at(i))) {
            m_items.append(image);
            m_pictures.append(image->picture());
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
        m_items.at(i)->setSource(m_sources.at(i));
        m_items.at(i)->setPicture(m_pictures.at(i));
    }
    BaseCommand::redo();
}

void RelinkCommand::undo()
{
    for (int i = 0; i < m_items.size(); ++i) {
        m_items.at(i)->setSource(m_previousSources.at(i));
        m_items.at(i)->setPicture(nullptr);
    }
    BaseCommand::undo();
}
