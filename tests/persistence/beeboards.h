#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <sqlite3.h>

// Writes boards in BeeRef's layout, for the tests that open them.
namespace BeeBoards {

struct Item {
    QString type = QStringLiteral("pixmap");
    double x = 0;
    double y = 0;
    double z = 0;
    double scale = 1;
    double rotation = 0;
    int flip = 1;
    // The JSON of "data" (version 2) or the file name (version 1); null for none.
    QByteArray data;
    // The picture's stored bytes; null for a picture stored without any.
    QByteArray blob;
    bool compressed = false;
    // The archive's "sz" instead of the blob's length, when not -1.
    qint64 claimedSize = -1;
};

constexpr qint64 ApplicationId = 2060242126;

inline bool exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

inline bool write(const QString &path, const QList<Item> &items, int version = 2,
    qint64 applicationId = ApplicationId)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    const QByteArray pragmas
        = QStringLiteral("PRAGMA application_id = %1; PRAGMA user_version = %2;")
              .arg(applicationId)
              .arg(version)
              .toUtf8();
    bool ok = exec(db, pragmas.constData())
        && exec(db,
            version == 1 ? "CREATE TABLE items (id INTEGER PRIMARY KEY, type TEXT NOT NULL, x REAL "
                           "DEFAULT 0, y REAL DEFAULT 0, z REAL DEFAULT 0, scale REAL DEFAULT 1, "
                           "rotation REAL DEFAULT 0, flip INTEGER DEFAULT 1, filename TEXT)"
                         : "CREATE TABLE items (id INTEGER PRIMARY KEY, type TEXT NOT NULL, x REAL "
                           "DEFAULT 0, y REAL DEFAULT 0, z REAL DEFAULT 0, scale REAL DEFAULT 1, "
                           "rotation REAL DEFAULT 0, flip INTEGER DEFAULT 1, data JSON)")
        && exec(db,
            "CREATE TABLE sqlar (name TEXT PRIMARY KEY, item_id INTEGER UNIQUE, mode INT, "
            "mtime INT, sz INT, data BLOB)")
        && exec(db, "BEGIN");
    sqlite3_stmt *item = nullptr;
    sqlite3_stmt *blob = nullptr;
    const QByteArray insert
        = QByteArray("INSERT INTO items (type, x, y, z, scale, rotation, flip, ")
        + (version == 1 ? "filename" : "data") + ") VALUES (?,?,?,?,?,?,?,?)";
    ok = ok && sqlite3_prepare_v2(db, insert.constData(), -1, &item, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(db,
               "INSERT INTO sqlar (name, item_id, mode, mtime, sz, data) VALUES (?,?,420,0,?,?)",
               -1, &blob, nullptr)
            == SQLITE_OK;
    for (int i = 0; ok && i < items.size(); ++i) {
        const Item &it = items.at(i);
        const QByteArray type = it.type.toUtf8();
        sqlite3_reset(item);
        sqlite3_bind_text(item, 1, type.constData(), type.size(), SQLITE_TRANSIENT);
        sqlite3_bind_double(item, 2, it.x);
        sqlite3_bind_double(item, 3, it.y);
        sqlite3_bind_double(item, 4, it.z);
        sqlite3_bind_double(item, 5, it.scale);
        sqlite3_bind_double(item, 6, it.rotation);
        sqlite3_bind_int(item, 7, it.flip);
        if (it.data.isNull())
            sqlite3_bind_null(item, 8);
        else
            sqlite3_bind_text(item, 8, it.data.constData(), it.data.size(), SQLITE_TRANSIENT);
        ok = sqlite3_step(item) == SQLITE_DONE;
        if (!ok || it.blob.isNull())
            continue;
        // The archive's zlib stream is what qCompress writes after its length.
        const QByteArray stored = it.compressed ? qCompress(it.blob, 9).mid(4) : it.blob;
        const QByteArray name = QByteArray::number(i + 1).rightJustified(4, '0') + "-picture";
        sqlite3_reset(blob);
        sqlite3_bind_text(blob, 1, name.constData(), name.size(), SQLITE_TRANSIENT);
        sqlite3_bind_int64(blob, 2, sqlite3_last_insert_rowid(db));
        sqlite3_bind_int64(blob, 3, it.claimedSize != -1 ? it.claimedSize : it.blob.size());
        sqlite3_bind_blob(blob, 4, stored.constData(), stored.size(), SQLITE_TRANSIENT);
        ok = sqlite3_step(blob) == SQLITE_DONE;
    }
    sqlite3_finalize(item);
    sqlite3_finalize(blob);
    ok = ok && exec(db, "COMMIT");
    sqlite3_close(db);
    return ok;
}

} // namespace BeeBoards
