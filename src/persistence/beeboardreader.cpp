#include "persistence/beeboardreader.h"

#include "jobs/baseloader.h"
#include "jobs/loadjob.h"
#include "persistence/persistencelog.h"
#include "picture/decoderpool.h"
#include "picture/pictureblock.h"
#include "picture/picturefile.h"
#include "scene/itemlimits.h"
#include "scene/itemrecord.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QtEndian>

#include <libdeflate.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

// Geometry. A stored item maps a point p of its picture (pixels, origin at the top-left corner of
// the uncropped picture) to the scene as
//
//     s(p) = (x, y) + R(rotation) * scale * F * p,    F = diag(flip, 1),
//
// flip first, then the uniform scale and the rotation about the item's origin (R turns the x
// axis towards the y axis for positive degrees, as the toolkit's rotate() does on a y-down
// canvas), then the translation. A crop [cx, cy, cw, ch] keeps the picture where it is and
// shows only that rectangle of it, c = (cx + cw / 2, cy + ch / 2) its centre.
//
// Our image item is centred on its crop: the image transform takes p to q = p - c, the crop path
// is the rectangle (-cw / 2, -ch / 2, cw, ch), and the item transform must take q to s(q + c):
//
//     item transform:  q -> [(x, y) + R * scale * F * c] + R * scale * F * q.
//
// So its linear part is R * scale * F, and its translation is where the crop's centre lands. A
// note's stored origin is its top-left corner: its transform is s itself, and the builder moves
// our note (centred on its text) by half its size (ItemRecord::topLeftOrigin). A stored rotation
// of any size, a flip and a scale within our bounds all survive sanitizeTransform unchanged.

namespace {

constexpr qint64 ApplicationId = 2060242126;
// The most text a note or a picture's stored values may take: far more than any note holds.
constexpr int MaximumDataBytes = 16 * 1024 * 1024;
// How many virtual machine steps SQLite takes between two looks at the job, and how many looks
// a load may take: some 10^9 steps, far beyond what reading the rows of any board takes.
constexpr int StepsPerCheck = 10000;
constexpr int MaximumChecks = 100000;
constexpr double MaximumCoordinate = 1e12;

QString tr(const char *text)
{
    return QCoreApplication::translate("SaveFileLoader", text);
}

struct CloseDatabase {
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
struct FinalizeStatement {
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;
struct FreeDecompressor {
    void operator()(libdeflate_decompressor *d) const { libdeflate_free_decompressor(d); }
};

// Looked at by SQLite between steps: a cancelled job, or a query that runs on and on, stops it.
struct Watch {
    const LoadJob *job = nullptr;
    int checks = 0;
    bool tooLong = false;
};

int watchQuery(void *context)
{
    auto *watch = static_cast<Watch *>(context);
    if (watch->job && watch->job->isCanceled())
        return 1;
    if (++watch->checks > MaximumChecks) {
        watch->tooLong = true;
        return 1;
    }
    return 0;
}

double finiteOr(double value, double fallback)
{
    return std::isfinite(value) ? value : fallback;
}

double columnDouble(sqlite3_stmt *statement, int column, double fallback)
{
    if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        return fallback;
    return finiteOr(sqlite3_column_double(statement, column), fallback);
}

// The values of one row, made safe to build an item from.
struct Row {
    qint64 id = 0;
    enum Kind { Other, Picture, Note } kind = Other;
    double x = 0;
    double y = 0;
    double scale = 1;
    double rotation = 0;
    int flip = 1;
};

Row readRow(sqlite3_stmt *statement)
{
    Row row;
    row.id = sqlite3_column_int64(statement, 0);
    const int kind = sqlite3_column_int(statement, 1);
    row.kind = kind == 1 ? Row::Picture : kind == 2 ? Row::Note : Row::Other;
    row.x = std::clamp(columnDouble(statement, 2, 0), -MaximumCoordinate, MaximumCoordinate);
    row.y = std::clamp(columnDouble(statement, 3, 0), -MaximumCoordinate, MaximumCoordinate);
    const double scale = columnDouble(statement, 4, 1);
    row.scale
        = scale > 0 ? std::clamp(scale, ItemLimits::MinimumScale, ItemLimits::MaximumScale) : 1.0;
    row.rotation = std::fmod(columnDouble(statement, 5, 0), 360.0);
    row.flip = columnDouble(statement, 6, 1) < 0 ? -1 : 1;
    return row;
}

QTransform linearPart(double scale, double rotation, int flip)
{
    // Applied to a point last to first: flip and scale, then the rotation.
    return QTransform().rotate(rotation).scale(scale * flip, scale);
}

// The stored crop as a rectangle inside the picture, or none for the whole picture.
std::optional<QRectF> cropOf(const QJsonObject &data)
{
    const QJsonArray crop = data.value(QLatin1String("crop")).toArray();
    if (crop.size() != 4)
        return std::nullopt;
    double values[4];
    for (int i = 0; i < 4; ++i) {
        if (!crop.at(i).isDouble() || !std::isfinite(crop.at(i).toDouble()))
            return std::nullopt;
        values[i] = crop.at(i).toDouble();
    }
    return QRectF(values[0], values[1], values[2], values[3]);
}

// How deep the toolkit's parser nests arrays and objects.
constexpr int MaximumJsonDepth = 1024;

// The character a JSON escape other than "\u" stands for.
char unescaped(char c)
{
    switch (c) {
    case 'b':
        return '\b';
    case 'f':
        return '\f';
    case 'n':
        return '\n';
    case 'r':
        return '\r';
    case 't':
        return '\t';
    default:
        return c;
    }
}

// Whether an object of the JSON text names a key twice, escaped or not. The toolkit's parser
// keeps a repeated key's last value and never frees an earlier array or object (Qt 5.15): a board
// of such values would leak with every item. Neither BeeRef nor we write a key twice. Text that is
// no JSON may give either answer: the parser refuses it anyway.
bool repeatsKey(const QByteArray &json)
{
    // The keys of every open object, innermost last; an array has none.
    QList<QHash<QString, bool>> open;
    QList<bool> isObject;
    bool keyNext = false;
    const char *text = json.constData();
    const int size = json.size();
    for (int i = 0; i < size; ++i) {
        const char c = text[i];
        if (c == '{' || c == '[') {
            // Deeper than the parser goes: it refuses the text.
            if (open.size() == MaximumJsonDepth)
                return false;
            open.append(QHash<QString, bool>());
            isObject.append(c == '{');
            keyNext = c == '{';
        } else if (c == '}' || c == ']') {
            if (!open.isEmpty()) {
                open.removeLast();
                isObject.removeLast();
            }
            keyNext = false;
        } else if (c == ',') {
            keyNext = !isObject.isEmpty() && isObject.last();
        } else if (c == '"') {
            const bool isKey = keyNext && !open.isEmpty();
            keyNext = false;
            QString key;
            int run = ++i;
            for (; i < size && text[i] != '"'; ++i) {
                if (text[i] != '\\')
                    continue;
                if (isKey)
                    key += QString::fromUtf8(text + run, i - run);
                if (++i >= size)
                    return false;
                if (text[i] == 'u' && i + 4 < size) {
                    bool ok = false;
                    const ushort unit = QByteArray(text + i + 1, 4).toUShort(&ok, 16);
                    if (isKey)
                        key += QChar(ok ? unit : 0xfffd);
                    i += 4;
                } else if (isKey) {
                    key += QLatin1Char(unescaped(text[i]));
                }
                run = i + 1;
            }
            if (!isKey)
                continue;
            key += QString::fromUtf8(text + run, std::min(i, size) - run);
            if (open.last().contains(key))
                return true;
            open.last().insert(key, true);
        }
    }
    return false;
}

// The two SQLite error codes that say the file is not what its header promised.
bool isDamage(int code)
{
    code &= 0xff;
    return code == SQLITE_CORRUPT || code == SQLITE_NOTADB || code == SQLITE_IOERR;
}

// What the file's first page says of itself: whether it is an SQLite database at all, and
// whether the file is shorter than the pages its header counts (cut short).
struct FileHeader {
    bool isSqlite = false;
    bool cutShort = false;
};

FileHeader inspect(QFile &file)
{
    FileHeader header;
    const QByteArray bytes = file.read(100);
    static const char magic[] = "SQLite format 3";
    if (bytes.size() < 100 || !bytes.startsWith(QByteArray(magic, sizeof magic)))
        return header;
    header.isSqlite = true;
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    qint64 pageSize = qFromBigEndian<quint16>(data + 16);
    if (pageSize == 1)
        pageSize = 65536;
    const quint32 pages = qFromBigEndian<quint32>(data + 28);
    // The page count is only kept by writers that also keep the two counters equal.
    const bool countValid
        = qFromBigEndian<quint32>(data + 24) == qFromBigEndian<quint32>(data + 92);
    header.cutShort = countValid && pageSize * pages > file.size();
    return header;
}

} // namespace

BeeBoardReader::BeeBoardReader(BaseLoader *reporter, LoadJob *job)
    : m_reporter(reporter)
    , m_job(job)
{
}

bool BeeBoardReader::isBeeBoard(const QString &path)
{
    return path.endsWith(QLatin1String(".bee"), Qt::CaseInsensitive);
}

BeeBoardReader::Placement BeeBoardReader::placePicture(double x, double y, double scale,
    double rotation, int flip, const QSizeF &pictureSize, const std::optional<QRectF> &crop)
{
    const QRectF whole(QPointF(0, 0), pictureSize);
    QRectF shown = whole;
    if (crop) {
        // A crop reaching past the picture shows only what is there; one that leaves less than
        // we let a crop keep shows the whole picture, as an uncropped item would.
        const QRectF inside = crop->normalized() & whole;
        if (inside.width() >= ItemLimits::MinimumCropExtent
            && inside.height() >= ItemLimits::MinimumCropExtent)
            shown = inside;
    }
    const QPointF centre = shown.center();
    const QTransform linear = linearPart(scale, rotation, flip);
    const QPointF placedCentre = QPointF(x, y) + linear.map(centre);

    Placement placement;
    placement.transform = linear * QTransform::fromTranslate(placedCentre.x(), placedCentre.y());
    placement.imageTransform = QTransform::fromTranslate(-centre.x(), -centre.y());
    placement.cropPath.addRect(
        -shown.width() / 2, -shown.height() / 2, shown.width(), shown.height());
    return placement;
}

QTransform BeeBoardReader::placeNote(double x, double y, double scale, double rotation, int flip)
{
    return linearPart(scale, rotation, flip) * QTransform::fromTranslate(x, y);
}

BeeBoardReader::Outcome BeeBoardReader::read(const QString &path)
{
    Outcome outcome;
    const QString name = QFileInfo(path).fileName();
    const auto fail = [&outcome, &name](const QString &cause) {
        outcome.error = tr("Could not open the BeeRef board %1: %2.").arg(name, cause);
        return outcome;
    };

    FileHeader header;
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return fail(file.errorString());
        header = inspect(file);
    }
    if (!header.isSqlite)
        return fail(tr("it is not an SQLite database, which every such board is"));

    // Read-only and immutable: SQLite takes no lock and writes no journal, and a journal left
    // beside the file is not rolled back into it.
    const QByteArray uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded()
        + "?mode=ro&immutable=1";
    sqlite3 *opened = nullptr;
    const int openCode = sqlite3_open_v2(uri.constData(), &opened,
        SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    Database db(opened);
    if (openCode != SQLITE_OK)
        return fail(QString::fromUtf8(opened ? sqlite3_errmsg(opened) : sqlite3_errstr(openCode)));

    // The file is foreign: nothing in its schema runs code of ours, damaged pages are found
    // rather than trusted, and no string or blob is larger than one picture may be.
    const qint64 largestBlob
        = std::min<qint64>(PictureFile::maximumBytes(), std::numeric_limits<int>::max() - 1);
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    if (header.cutShort) {
        // SQLite refuses a file shorter than its header says, unless its schema may be written:
        // then it reads the pages that are there and finds the rest missing. Nothing can be
        // written to a file opened this way.
        sqlite3_exec(db.get(), "PRAGMA writable_schema = ON", nullptr, nullptr, nullptr);
    } else {
        sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    }
    sqlite3_limit(db.get(), SQLITE_LIMIT_LENGTH, int(largestBlob));
    sqlite3_exec(db.get(), "PRAGMA cell_size_check = ON", nullptr, nullptr, nullptr);
    Watch watch;
    watch.job = m_job;
    sqlite3_progress_handler(db.get(), StepsPerCheck, watchQuery, &watch);

    const auto prepare = [&db](const char *sql) {
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db.get(), sql, -1, &statement, nullptr);
        return Statement(statement);
    };
    const auto damaged = [&](int code) {
        if (watch.tooLong)
            return fail(tr("reading it takes far longer than any board needs; it is damaged"));
        if (header.cutShort)
            return fail(tr("the file ends before its last page (%1)")
                            .arg(QString::fromUtf8(sqlite3_errstr(code))));
        return fail(tr("it is damaged (%1)").arg(QString::fromUtf8(sqlite3_errmsg(db.get()))));
    };
    const auto pragma = [&](const char *sql, qint64 *value) {
        Statement statement = prepare(sql);
        const int code = statement ? sqlite3_step(statement.get()) : sqlite3_errcode(db.get());
        if (code != SQLITE_ROW)
            return code == SQLITE_DONE ? SQLITE_CORRUPT : code;
        *value = sqlite3_column_int64(statement.get(), 0);
        return SQLITE_OK;
    };

    qint64 applicationId = 0;
    qint64 version = 0;
    if (int code = pragma("PRAGMA application_id", &applicationId); code != SQLITE_OK)
        return damaged(code);
    if (applicationId != ApplicationId)
        return fail(tr("it is an SQLite database, but not a BeeRef board"));
    if (int code = pragma("PRAGMA user_version", &version); code != SQLITE_OK)
        return damaged(code);
    if (version > 2)
        return fail(
            tr("it was saved in a newer BeeRef format (%1) than this program reads").arg(version));
    if (version < 1)
        return fail(tr("it holds no board version"));

    // Tables only: a view of the same name could compute rows without end.
    const auto isTable = [&](const char *table) {
        Statement statement = prepare("SELECT type FROM sqlite_master WHERE name = ?1");
        if (!statement)
            return false;
        sqlite3_bind_text(statement.get(), 1, table, -1, SQLITE_STATIC);
        return sqlite3_step(statement.get()) == SQLITE_ROW
            && qstrcmp(
                   reinterpret_cast<const char *>(sqlite3_column_text(statement.get(), 0)), "table")
            == 0;
    };
    if (!isTable("items"))
        return fail(tr("it has no table of items"));
    const bool hasArchive = isTable("sqlar");

    // The kind is compared here, so that a long kind name of a newer program is never copied.
    Statement rows = prepare("SELECT id, CASE type WHEN 'pixmap' THEN 1 WHEN 'text' THEN 2 "
                             "ELSE 0 END, x, y, scale, rotation, flip FROM items "
                             "ORDER BY z, id LIMIT ?1");
    Statement dataOf = prepare(version == 1 ? "SELECT json_object('filename', filename) FROM "
                                              "items WHERE id = ?1"
                                            : "SELECT data FROM items WHERE id = ?1");
    if (!rows || !dataOf)
        return fail(tr("its table of items is not that of a board (%1)")
                        .arg(QString::fromUtf8(sqlite3_errmsg(db.get()))));
    Statement blobSize;
    Statement blobOf;
    if (hasArchive) {
        blobSize = prepare(
            "SELECT sz, length(data), typeof(data) FROM sqlar WHERE item_id = ?1 LIMIT 1");
        blobOf = prepare("SELECT data FROM sqlar WHERE item_id = ?1 LIMIT 1");
        if (!blobSize || !blobOf)
            return fail(tr("its table of pictures is not that of a board (%1)")
                            .arg(QString::fromUtf8(sqlite3_errmsg(db.get()))));
    }

    qint64 total = 0;
    if (int code = pragma("SELECT count(*) FROM items", &total); code != SQLITE_OK)
        return damaged(code);
    const int toRead = int(std::min<qint64>(total, MaximumItems));
    outcome.losses.addUnread(int(std::min<qint64>(total - toRead, std::numeric_limits<int>::max())),
        LoadLosses::Reason::TooManyItems);
    m_reporter->reportProgressRange(m_job, 0, toRead);

    const LoadLosses::Reason cutShort
        = header.cutShort ? LoadLosses::Reason::FileEnds : LoadLosses::Reason::DamagedPicture;
    std::unique_ptr<libdeflate_decompressor, FreeDecompressor> inflater(
        libdeflate_alloc_decompressor());
    // Identical stored pictures become one picture of ours, as they would be on our own boards.
    QHash<QByteArray, QImage> decodedByHash;

    // The stored values of an item as a JSON object; false when they cannot be read.
    const auto readData = [&](qint64 id, QJsonObject *data, int *code) {
        sqlite3_reset(dataOf.get());
        sqlite3_bind_int64(dataOf.get(), 1, id);
        *code = sqlite3_step(dataOf.get());
        if (*code != SQLITE_ROW)
            return false;
        *code = SQLITE_OK;
        if (sqlite3_column_type(dataOf.get(), 0) == SQLITE_NULL)
            return true;
        const int bytes = sqlite3_column_bytes(dataOf.get(), 0);
        if (bytes > MaximumDataBytes)
            return false;
        const auto *text = static_cast<const char *>(sqlite3_column_blob(dataOf.get(), 0));
        if (!text)
            return bytes == 0;
        const QByteArray json(text, bytes);
        if (repeatsKey(json))
            return false;
        const QJsonDocument document = QJsonDocument::fromJson(json);
        if (!document.isObject())
            return false;
        *data = document.object();
        return true;
    };

    // The stored bytes of a picture, inflated when the archive keeps them compressed; empty with
    // why when there are none to have.
    const auto readBlob = [&](qint64 id, LoadLosses::Reason *why, int *code) -> QByteArray {
        *why = LoadLosses::Reason::NoPictureData;
        *code = SQLITE_OK;
        if (!hasArchive)
            return {};
        sqlite3_reset(blobSize.get());
        sqlite3_bind_int64(blobSize.get(), 1, id);
        *code = sqlite3_step(blobSize.get());
        if (*code != SQLITE_ROW) {
            if (*code == SQLITE_DONE)
                *code = SQLITE_OK;
            else
                *why = cutShort;
            return {};
        }
        *code = SQLITE_OK;
        const qint64 size = sqlite3_column_int64(blobSize.get(), 0);
        const qint64 stored = sqlite3_column_int64(blobSize.get(), 1);
        if (qstrcmp(reinterpret_cast<const char *>(sqlite3_column_text(blobSize.get(), 2)), "blob")
                != 0
            || stored <= 0)
            return {};
        // Checked before a byte of it is read: neither the stored nor the inflated picture may
        // be larger than the pixels of one picture may be.
        if (stored > largestBlob || size > largestBlob) {
            *why = LoadLosses::Reason::TooLarge;
            return {};
        }
        *why = cutShort;
        if (size < stored)
            return {};
        sqlite3_reset(blobOf.get());
        sqlite3_bind_int64(blobOf.get(), 1, id);
        *code = sqlite3_step(blobOf.get());
        if (*code != SQLITE_ROW)
            return {};
        *code = SQLITE_OK;
        const int bytes = sqlite3_column_bytes(blobOf.get(), 0);
        const auto *data = static_cast<const char *>(sqlite3_column_blob(blobOf.get(), 0));
        if (!data || bytes != stored)
            return {};
        if (size == stored)
            return QByteArray(data, bytes);
        QByteArray inflated(int(size), Qt::Uninitialized);
        if (!inflater
            || libdeflate_zlib_decompress(inflater.get(), data, size_t(bytes), inflated.data(),
                   size_t(inflated.size()), nullptr)
                != LIBDEFLATE_SUCCESS) {
            *why = LoadLosses::Reason::DamagedPicture;
            return {};
        }
        return inflated;
    };

    const auto decode
        = [&](const QByteArray &bytes, QByteArray *original, LoadLosses::Reason *why) -> QImage {
        const QByteArray hash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
        const auto found = decodedByHash.constFind(hash);
        const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
        if (found != decodedByHash.constEnd()) {
            if (PictureBlock::kindOf(data, bytes.size()) != PictureBlock::Kind::Unknown)
                *original = bytes;
            return found.value();
        }
        QImage image;
        PictureBlock::Failure failure = PictureBlock::Failure::Damaged;
        if (PictureBlock::kindOf(data, bytes.size()) != PictureBlock::Kind::Unknown) {
            image = PictureBlock::decode(data, bytes.size(), &failure);
            if (!image.isNull())
                *original = bytes;
        } else {
            // Another format: decoded in a helper process, as any foreign file is, and its
            // pixels are stored as PNG when saved.
            const PictureFile::LoadResult result
                = DecoderPool::instance().decodeData(bytes, QByteArray(), false, QSize(), &image);
            if (result.code == PictureFile::LoadResult::Refused)
                failure = PictureBlock::Failure::TooLarge;
            else if (result.code != PictureFile::LoadResult::Loaded)
                image = QImage();
        }
        *why = failure == PictureBlock::Failure::TooLarge ? LoadLosses::Reason::TooLarge
            : failure == PictureBlock::Failure::ImplausibleSize
            ? LoadLosses::Reason::ImplausibleSize
            : LoadLosses::Reason::DamagedPicture;
        if (!image.isNull())
            decodedByHash.insert(hash, image);
        return image;
    };

    sqlite3_bind_int(rows.get(), 1, toRead);
    int done = 0;
    int code = SQLITE_OK;
    while ((code = sqlite3_step(rows.get())) == SQLITE_ROW) {
        if (m_job->isCanceled())
            return outcome;
        const Row row = readRow(rows.get());
        // A hundred steps at most: each one is a queued signal to the window.
        if (++done == toRead || done % std::max(1, toRead / 100) == 0)
            m_reporter->reportProgress(m_job, done);
        if (row.kind == Row::Other) {
            outcome.losses.addUnread(1, LoadLosses::Reason::UnknownKind);
            continue;
        }
        const ItemRecord::Type type
            = row.kind == Row::Note ? ItemRecord::Type::Note : ItemRecord::Type::Image;
        QJsonObject data;
        int dataCode = SQLITE_OK;
        const bool dataRead = readData(row.id, &data, &dataCode);
        if (dataCode != SQLITE_OK && (isDamage(dataCode) || watch.tooLong || m_job->isCanceled()))
            return m_job->isCanceled() ? outcome : damaged(dataCode);

        ItemRecord record;
        record.type = type;
        if (type == ItemRecord::Type::Note) {
            if (!dataRead) {
                outcome.losses.add(type, LoadLosses::Reason::UnreadableData);
                continue;
            }
            record.text = data.value(QLatin1String("text")).toString();
            record.transform = placeNote(row.x, row.y, row.scale, row.rotation, row.flip);
            record.topLeftOrigin = true;
            m_reporter->reportItem(m_job, record);
            continue;
        }

        // A picture whose stored values cannot be read still has its pixels and place.
        LoadLosses::Reason why = LoadLosses::Reason::NoPictureData;
        int blobCode = SQLITE_OK;
        const QByteArray bytes = readBlob(row.id, &why, &blobCode);
        if (m_job->isCanceled())
            return outcome;
        if (watch.tooLong)
            return damaged(blobCode);
        QImage image;
        if (!bytes.isEmpty())
            image = decode(bytes, &record.original, &why);
        if (image.isNull()) {
            outcome.losses.add(type, why);
            continue;
        }
        const QString filename = data.value(QLatin1String("filename")).toString();
        record.source = filename;
        record.name = filename.isEmpty() ? QStringLiteral("Untitled")
                                         : QFileInfo(filename).completeBaseName();
        const double opacity = data.value(QLatin1String("opacity")).toDouble(1.0);
        record.opacity = float(std::clamp(finiteOr(opacity, 1.0), 0.0, 1.0));
        if (data.value(QLatin1String("grayscale")).toBool())
            record.filter |= ItemLimits::GrayscaleFilter;
        const Placement placement = placePicture(
            row.x, row.y, row.scale, row.rotation, row.flip, image.size(), cropOf(data));
        record.transform = placement.transform;
        record.imageTransform = placement.imageTransform;
        record.cropPath = placement.cropPath;
        record.image = std::move(image);
        m_reporter->reportItem(m_job, record);
    }
    if (m_job->isCanceled())
        return outcome;
    if (code != SQLITE_DONE) {
        // The rows read so far are on the board: the rest is lost, unless nothing could be read.
        if (done == 0 || watch.tooLong)
            return damaged(code);
        outcome.losses.addUnread(toRead - done,
            header.cutShort ? LoadLosses::Reason::FileEnds : LoadLosses::Reason::UnreadableData);
    }
    qCDebug(lcPersistence) << "BeeBoardReader: read" << done << "of" << total << "items of" << path;
    return outcome;
}
