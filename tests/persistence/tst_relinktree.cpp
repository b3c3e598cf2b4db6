#include "persistence/relinktree.h"

#include <QTest>

namespace {

// The tree depth first, one line a row: a folder, then its subfolders, then its pictures, each
// indented by its depth.
void flatten(const QList<RelinkTree::Group> &groups, int depth, QStringList *lines)
{
    for (const RelinkTree::Group &group : groups) {
        lines->append(QString(depth * 2, QLatin1Char(' ')) + group.path);
        flatten(group.subgroups, depth + 1, lines);
        for (const RelinkTree::MissingImage &image : group.images)
            lines->append(QString((depth + 1) * 2, QLatin1Char(' ')) + image.path);
    }
}

} // namespace

class tst_RelinkTree : public QObject {
    Q_OBJECT

private slots:
    void build_data();
    void build();
    void rebase_data();
    void rebase();
};

void tst_RelinkTree::build_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QStringList>("tree");

    QTest::newRow("nested folders")
        << QStringList { "/home/ann/refs/cats/a.png", "/home/ann/refs/b.png" }
        << QStringList { "/home/", "  /home/ann/", "    /home/ann/refs/",
               "      /home/ann/refs/cats/", "        /home/ann/refs/cats/a.png",
               "      /home/ann/refs/b.png" };
    QTest::newRow("siblings, sorted") << QStringList { "/b/y.png", "/a/x.png",
        "/b/w.png" } << QStringList { "/a/", "  /a/x.png", "/b/", "  /b/w.png", "  /b/y.png" };
    QTest::newRow("file at the root")
        << QStringList { "/x.png" } << QStringList { "/", "  /x.png" };
    QTest::newRow("dot-dot stays a level")
        << QStringList { "/a/../b/c.png" }
        << QStringList { "/a/", "  /a/../", "    /a/../b/", "      /a/../b/c.png" };
    QTest::newRow("drive letter") << QStringList { "C:/pics/cats/d.png" }
                                  << QStringList { "C:/", "  C:/pics/", "    C:/pics/cats/",
                                         "      C:/pics/cats/d.png" };
}

void tst_RelinkTree::build()
{
    QFETCH(QStringList, paths);
    QFETCH(QStringList, tree);
    QList<RelinkTree::MissingImage> images;
    for (const QString &path : paths)
        images.append({ {}, path, { 1 } });
    QStringList lines;
    flatten(RelinkTree::build(images), 0, &lines);
    QCOMPARE(lines, tree);
}

void tst_RelinkTree::rebase_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("result");

    QTest::newRow("file in the folder") << "/old/a.png"
                                        << "/old/"
                                        << "/new"
                                        << "/new/a.png";
    QTest::newRow("file below it") << "/old/sub/b.png"
                                   << "/old/"
                                   << "/new/"
                                   << "/new/sub/b.png";
    QTest::newRow("same name deeper stays") << "/old/x/old/c.png"
                                            << "/old/"
                                            << "/new"
                                            << "/new/x/old/c.png";
    QTest::newRow("outside the folder") << "/other/old/d.png"
                                        << "/old/"
                                        << "/new"
                                        << "/other/old/d.png";
    QTest::newRow("root kept") << "/home/u/e.png"
                               << "/home/"
                               << "/mnt/home"
                               << "/mnt/home/u/e.png";
}

void tst_RelinkTree::rebase()
{
    QFETCH(QString, path);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, result);
    QCOMPARE(RelinkTree::rebase(path, from, to), result);
}

QTEST_APPLESS_MAIN(tst_RelinkTree)
#include "tst_relinktree.moc"
