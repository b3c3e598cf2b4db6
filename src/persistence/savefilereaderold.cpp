// The formats before 1.6, read item after item with their picture blocks, and the 1.5 layout of
// records after blocks. Kept apart from the reading of the current format, which decodes its
// blocks on the pool.
#include "persistence/savefilereader.h"

#include "jobs/baseloader.h"
#include "jobs/loadjob.h"
#include "persistence/imageloaderrunner.h"
#include "persistence/oldsaveformats.h"
#include "persistence/savefileformat.h"
#include "picture/picturefile.h"

#include <QFile>

#include <algorithm>

using SaveFileFormat::isAtLeast;

void SaveFileReader::applyBlock(int node, const ImageRecord &record)
{
    const qint64 limit = std::min(m_header.indexOffset, m_size);
    ItemRecord &item = m_nodes[node].record;
    Decoded decoded;
    decoded.node = node;
    // A dropped image is remembered too: images sharing its block are lost for the same reason.
    const auto lose = [this, node, id = item.id](LoadLosses::Reason reason) {
        drop(node, reason);
        Decoded dropped;
        dropped.lost = reason;
        m_itemsById.insert(id, dropped);
    };
    if (record.id < 0 || record.start < 0 || record.end < record.start) {
        lose(LoadLosses::Reason::BrokenIndex);
        return;
    }
    if (record.end > limit || !m_file->seek(record.start)) {
        lose(record.end > m_size ? LoadLosses::Reason::FileEnds : LoadLosses::Reason::BrokenIndex);
        return;
    }
    const qint64 length = record.end - record.start;
    if (length == 4) {
        qint32 ownerId = -1;
        m_in >> ownerId;
        if (ownerId != -1) {
            // Owners come before the images sharing them; one not read yet is not in the file.
            const auto owner = m_itemsById.constFind(ownerId);
            if (owner == m_itemsById.constEnd()) {
                lose(LoadLosses::Reason::NoPictureData);
                return;
            }
            if (owner->node < 0) {
                lose(owner->lost);
                return;
            }
            if (owner->image.isNull()) {
                m_missing.insert(node, m_missing.value(owner->node));
            } else {
                item.image = owner->image;
                item.source = owner->source;
            }
            m_itemsById.insert(item.id, *owner);
            return;
        }
        const QString path = ImageLoaderRunner::resolveLinkedPath(
            item.source, m_currentSceneDirectory, m_savedSceneDirectory);
        PictureFile::LoadResult result;
        result.code = PictureFile::LoadResult::NotFound;
        QImage image;
        if (!path.isEmpty())
            result = PictureFile::load(path, item.autoDownscaled, item.downscaleLimit, &image);
        if (!path.isEmpty() && result.code == PictureFile::LoadResult::Loaded && !image.isNull()) {
            item.image = image;
            item.source = path;
            decoded.image = image;
        } else {
            m_missing.insert(node, result);
        }
        decoded.source = item.source;
    } else {
        const QByteArray block = m_file->read(length);
        QImage image;
        LoadLosses::Reason failure = LoadLosses::Reason::FileEnds;
        if (block.size() == length)
            image = ImageLoaderRunner::decodePng(
                reinterpret_cast<const uchar *>(block.constData()), length, &failure);
        if (image.isNull()) {
            lose(failure);
            return;
        }
        decoded.image = image;
        decoded.source = item.source;
        item.image = image;
    }
    m_itemsById.insert(item.id, decoded);
}

void SaveFileReader::readOld()
{
    const QString &version = m_header.formatVersion;
    const bool indexed = isAtLeast(version, QStringLiteral("1.4"));
    const qint32 count = m_header.legacyCount;
    m_reporter->reportProgressRange(m_job, 0, count);
    if (!readSceneBlock(indexed)) {
        finish(corruptMessage());
        return;
    }
    int highestId = -1;
    const auto generateOne = [this, &highestId](int node) {
        highestId = std::max(highestId, m_nodes.at(node).record.id);
        m_roots.append(node);
        m_generated.insert(node);
        generate(node);
    };

    if (version == QLatin1String("1.5")) {
        if (!m_header.imageRecords.isEmpty()) {
            const qint64 end = m_header.imageRecords.constLast().end;
            if (end < m_file->pos() || end > m_header.indexOffset || !m_file->seek(end)) {
                finishWithBrokenMetadata();
                return;
            }
        }
        QList<int> records;
        while (!m_in.atEnd() && records.size() < count) {
            ItemRecord record;
            if (!OldSaveFormats::readVersion5Record(m_in, &record)) {
                finishWithBrokenMetadata();
                return;
            }
            records.append(addTree(std::move(record)));
        }
        // Every record of this format is a picture.
        m_losses.add(ItemRecord::Type::Image, LoadLosses::Reason::FileEnds, count - records.size());
        readSceneDirectories();
        for (int k = 0; k < records.size(); ++k) {
            const int node = records.at(k);
            if (m_job->isCanceled())
                break;
            const int entry = takeEntryFor(node, k);
            if (entry >= 0)
                applyBlock(node, m_header.imageRecords.at(entry));
            else
                drop(node, LoadLosses::Reason::NoPictureData);
            if (!m_dropped.contains(node))
                generateOne(node);
            m_reporter->reportProgress(m_job, k + 1);
        }
        countDropped(records);
    } else {
        qint32 read = 0;
        for (; read < count && !m_in.atEnd(); ++read) {
            if (m_job->isCanceled())
                break;
            ItemRecord record;
            if (!OldSaveFormats::readImageRecord(m_in, m_header, m_size, read, &record)) {
                emitSceneState(highestId);
                finishWithBrokenMetadata();
                return;
            }
            generateOne(addTree(std::move(record)));
            m_reporter->reportProgress(m_job, read + 1);
        }
        // The count is the header's: the file may end before as many pictures as it claims.
        m_losses.add(ItemRecord::Type::Image, LoadLosses::Reason::FileEnds, count - read);
    }
    emitSceneState(highestId);
    finish();
}
