#include "picture/picturebudget.h"
#include "ui/aboutdialog.h"

#include <QLabel>
#include <QTest>

namespace {

constexpr qint64 MB = qint64(1024) * 1024;

} // namespace

// The About window's picture memory line: whole MB, and the amount as of each showing.
class tst_AboutDialog : public QObject {
    Q_OBJECT

private slots:
    void pictureMemoryText_data();
    void pictureMemoryText();
    void pictureMemoryIsReadWhenShown();
};

void tst_AboutDialog::pictureMemoryText_data()
{
    QTest::addColumn<qint64>("inUse");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<QString>("text");

    QTest::addRow("nothing in use")
        << qint64(0) << 512 * MB << "Picture memory in use: 0 MB of 512 MB";
    QTest::addRow("rounded to the nearest MB")
        << 3 * MB / 2 << 2 * MB - 1 << "Picture memory in use: 2 MB of 2 MB";
    QTest::addRow("under half a MB")
        << MB / 2 - 1 << 256 * MB << "Picture memory in use: 0 MB of 256 MB";
    QTest::addRow("more bytes than an int holds")
        << 5000 * MB << 6144 * MB << "Picture memory in use: 5000 MB of 6144 MB";
}

void tst_AboutDialog::pictureMemoryText()
{
    QFETCH(qint64, inUse);
    QFETCH(qint64, limit);
    QFETCH(QString, text);
    QCOMPARE(AboutDialog::pictureMemoryText(inUse, limit), text);
}

void tst_AboutDialog::pictureMemoryIsReadWhenShown()
{
    PictureBudget &budget = PictureBudget::instance();
    budget.setLimit(700 * MB);
    const int first = 0;
    const int second = 0;
    budget.charge(&first, 10 * MB, [&budget, &first] { budget.release(&first); });

    AboutDialog dialog(QStringLiteral("/settings.ini"), QString());
    const auto shown
        = [&dialog] { return dialog.findChild<QLabel *>(QStringLiteral("pictureMemory"))->text(); };
    dialog.show();
    QCOMPARE(shown(), QStringLiteral("Picture memory in use: 10 MB of 700 MB"));

    // Opened again later, it tells what is in use then.
    dialog.hide();
    budget.charge(&second, 30 * MB, [&budget, &second] { budget.release(&second); });
    budget.setLimit(900 * MB);
    dialog.show();
    QCOMPARE(shown(), QStringLiteral("Picture memory in use: 40 MB of 900 MB"));

    budget.release(&first);
    budget.release(&second);
}

QTEST_MAIN(tst_AboutDialog)
#include "tst_aboutdialog.moc"
