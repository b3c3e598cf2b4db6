#include "input/actionhandler.h"
#include "platform/taskbarprogress.h"
#include "ui/progressdialog.h"
#include "ui/progressentry.h"

#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>

#include <memory>

// The dots are driven by calling advanceDots() directly, as the entry's timer would once a second.
class tst_ProgressDialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QVERIFY(!ActionHandler::instance()->isBlocked()); }
    void taskbarProgress_data();
    void taskbarProgress();
    void infoText_data();
    void infoText();
    void centring();
    void closing_data();
    void closing();
    void blocking_data();
    void blocking();

private:
    // A layout request climbs one widget a round: the line, the body, the frame, the dialog.
    static void settle()
    {
        for (int round = 0; round < 4; ++round)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
};

void tst_ProgressDialog::initTestCase()
{
    // The taskbar code then goes on to the session bus: there or not, the dialog must not wait.
    QGuiApplication::setDesktopFileName(QStringLiteral("velkora-test"));
}

void tst_ProgressDialog::taskbarProgress_data()
{
    QTest::addColumn<QStringList>("jobs"); // minimum, maximum, value
    QTest::addColumn<bool>("removeFirst");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("maximum");

    QTest::addRow("two jobs from zero") << QStringList { "0 10 5", "0 30 15" } << false << 20 << 40;
    QTest::addRow("minimums not zero")
        << QStringList { "5 15 10", "100 130 115" } << false << 20 << 40;
    QTest::addRow("first job removed") << QStringList { "0 10 5", "0 30 15" } << true << 15 << 30;
    QTest::addRow("values outside the range count as its ends")
        << QStringList { "0 10 25", "0 30 -3" } << false << 10 << 40;
}

void tst_ProgressDialog::taskbarProgress()
{
    QFETCH(QStringList, jobs);
    QFETCH(bool, removeFirst);

    ProgressDialog dialog(QStringLiteral("Loading"), ProgressDialog::DoNotShow, nullptr);
    for (const QString &job : qAsConst(jobs)) {
        const QStringList numbers = job.split(QLatin1Char(' '));
        // Jobs learn their size after they started.
        ProgressEntry *entry = dialog.addEntry(QStringLiteral("Job"), 0, 0);
        entry->setRange(numbers.at(0).toInt(), numbers.at(1).toInt());
        entry->setValue(numbers.at(2).toInt());
    }
    if (removeFirst)
        dialog.removeEntry(dialog.entries().constFirst());

    QTEST(dialog.taskbarValue(), "value");
    QTEST(dialog.taskbarMaximum(), "maximum");
    const QList<ProgressEntry *> entries = dialog.entries();
    for (const ProgressEntry *entry : entries) {
        const QProgressBar *bar = dialog.progressBar(entry);
        QCOMPARE(QVector<int>({ bar->minimum(), bar->maximum(), bar->value() }),
            QVector<int>({ entry->minimum(), entry->maximum(), entry->value() }));
    }
}

void tst_ProgressDialog::infoText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("dots");
    QTest::addColumn<QVector<int>>("shown"); // dots at once, then after each tick; none: hidden

    QTest::addRow("three dots") << "Reading" << 3 << QVector<int> { 0, 1, 2, 3, 0, 1 };
    QTest::addRow("one dot") << "Reading" << 1 << QVector<int> { 0, 1, 0, 1 };
    QTest::addRow("no dots") << "Reading" << 0 << QVector<int> { 0, 0 };
    QTest::addRow("empty text hides the label") << QString() << 3 << QVector<int>();
}

void tst_ProgressDialog::infoText()
{
    QFETCH(QString, text);
    QFETCH(int, dots);
    QFETCH(QVector<int>, shown);

    ProgressDialog dialog(QStringLiteral("Loading"), 0, nullptr);
    ProgressEntry *entry = dialog.addEntry(QString(), 0, 10);
    const QLabel *label = dialog.infoLabel(entry);
    QVERIFY(label->isHidden());
    // The ticks of an earlier text must not carry over into the new one, nor show a cleared one.
    entry->setInfoText(QStringLiteral("Downloading"), 2);
    dialog.advanceDots(entry);
    entry->setInfoText(text, dots);
    for (int tick = 0; tick < qMax(shown.size(), 2); ++tick) {
        if (tick > 0)
            dialog.advanceDots(entry);
        QCOMPARE(label->isVisible(), !shown.isEmpty());
        if (!shown.isEmpty())
            QCOMPARE(label->text(), text + QString(shown.at(tick), QLatin1Char('.')));
    }
    QVERIFY(dialog.progressBar(entry)->isVisible());
}

// A short text over a wide one, both with dots.
void tst_ProgressDialog::centring()
{
    const int dots = 3;
    const QStringList texts { "Reading", "Downloading the images of a page with a long address" };
    ProgressDialog dialog(QStringLiteral("Loading"), 0, nullptr);
    QList<ProgressEntry *> entries;
    for (const QString &text : qAsConst(texts)) {
        entries.append(dialog.addEntry(text, 0, 10));
        entries.last()->setInfoText(text, dots);
    }
    settle();
    // The text is centred without its dots: they grow to its right and do not move it.
    for (int tick = 0; tick <= dots; ++tick) {
        for (ProgressEntry *entry : qAsConst(entries)) {
            const QLabel *label = dialog.infoLabel(entry);
            const QRect bar = dialog.progressBar(entry)->geometry();
            const int width = label->fontMetrics().horizontalAdvance(entry->infoText());
            QVERIFY2(
                qAbs(label->x() + width / 2 - bar.center().x()) <= 1, qPrintable(label->text()));
            QVERIFY(label->x() + label->sizeHint().width() <= bar.right() + 1);
            dialog.advanceDots(entry);
        }
        settle();
    }
    // The dialog fits what is left when a line goes, the widest one included.
    dialog.removeEntry(entries.last());
    settle();
    QCOMPARE(dialog.size(), dialog.sizeHint());
}

void tst_ProgressDialog::closing_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("escape"); // otherwise the window is closed
    QTest::addColumn<int>("times");
    QTest::addColumn<bool>("open");

    QTest::addRow("Escape, closable") << 0 << true << 1 << false;
    QTest::addRow("closed, closable") << 0 << false << 1 << false;
    QTest::addRow("Escape, NotClosable") << 4 << true << 1 << true;
    QTest::addRow("Escape twice, NotClosable") << 4 << true << 2 << true;
    QTest::addRow("closed, NotClosable and NotModal") << 5 << false << 1 << true;
}

void tst_ProgressDialog::closing()
{
    QFETCH(int, flags);
    QFETCH(bool, escape);
    QFETCH(int, times);
    QFETCH(bool, open);

    ProgressDialog dialog(QStringLiteral("Loading"), flags, nullptr);
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (int i = 0; i < 3; ++i)
        spies.push_back(std::make_unique<QSignalSpy>(
            dialog.addEntry(QStringLiteral("Job"), 0, 10), &ProgressEntry::canceled));
    // A job canceled on its own is not canceled again.
    dialog.entries().at(1)->cancel();
    for (int i = 0; i < times; ++i) {
        if (escape)
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            dialog.close();
    }

    for (const auto &spy : spies)
        QCOMPARE(spy->count(), 1);
    QCOMPARE(dialog.isVisible(), open);
    QCOMPARE(ActionHandler::instance()->isBlocked(), open);
    QVERIFY(!dialog.findChild<TaskbarProgress *>()->isVisible());
}

void tst_ProgressDialog::blocking_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<bool>("modal");

    QTest::addRow("modal, shown at once") << 0 << true << true;
    QTest::addRow("NotModal") << 1 << true << false;
    QTest::addRow("DoNotShow") << 2 << false << true;
}

void tst_ProgressDialog::blocking()
{
    QFETCH(int, flags);
    QFETCH(bool, shown);

    auto dialog = std::make_unique<ProgressDialog>(QStringLiteral("Loading"), flags, nullptr);
    const TaskbarProgress *taskbar = dialog->findChild<TaskbarProgress *>();
    // Whether the actions are blocked and the taskbar shows progress.
    const auto state = [taskbar] {
        return qMakePair(ActionHandler::instance()->isBlocked(), taskbar->isVisible());
    };
    QCOMPARE(dialog->isVisible(), shown);
    QTEST(dialog->isModal(), "modal");
    QCOMPARE(state(), qMakePair(shown, shown));
    dialog->hide();
    QCOMPARE(state(), qMakePair(false, false));
    dialog->show();
    QCOMPARE(state(), qMakePair(true, true));
    // Whoever deletes a shown dialog must not leave every action disabled.
    dialog.reset();
    QVERIFY(!ActionHandler::instance()->isBlocked());
}

QTEST_MAIN(tst_ProgressDialog)
#include "tst_progressdialog.moc"
