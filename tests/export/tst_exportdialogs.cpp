#include "app/mainwindow.h"
#include "settings/settingshandler.h"
#include "ui/exportimagesdialog.h"
#include "ui/exportscenedialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

class tst_ExportDialogs : public QObject {
    Q_OBJECT

private slots:
    void aspectLink_data();
    void aspectLink();
    void regions_data();
    void regions();
    void refusedCharacters_data();
    void refusedCharacters();
    void nothingToExportOpensNoDialog();
};

void tst_ExportDialogs::aspectLink_data()
{
    QTest::addColumn<QSize>("preset");
    QTest::addColumn<bool>("keepAspect");
    QTest::addColumn<bool>("changeWidth");
    QTest::addColumn<int>("value");
    QTest::addColumn<QSize>("expected");

    QTest::addRow("width sets height") << QSize(200, 100) << true << true << 300 << QSize(300, 150);
    QTest::addRow("height sets width") << QSize(200, 100) << true << false << 50 << QSize(100, 50);
    QTest::addRow("fractions dropped") << QSize(3, 7) << true << true << 10 << QSize(10, 23);
    QTest::addRow("unlinked") << QSize(200, 100) << false << true << 300 << QSize(300, 100);
    QTest::addRow("an empty side still gives a ratio")
        << QSize(0, 50) << true << true << 4 << QSize(4, 200);
}

void tst_ExportDialogs::aspectLink()
{
    QFETCH(QSize, preset);
    QFETCH(bool, keepAspect);
    QFETCH(bool, changeWidth);
    QFETCH(int, value);
    QFETCH(QSize, expected);

    ExportSceneDialog dialog(preset);
    dialog.aspectBox()->setChecked(keepAspect);
    QSpinBox *other = changeWidth ? dialog.heightBox() : dialog.widthBox();
    QSignalSpy otherChanged(other, qOverload<int>(&QSpinBox::valueChanged));
    (changeWidth ? dialog.widthBox() : dialog.heightBox())->setValue(value);
    QCOMPARE(QSize(dialog.exportWidth(), dialog.exportHeight()), expected);
    // The linked side follows silently, or it would set the first one back.
    QCOMPARE(otherChanged.count(), 0);
}

void tst_ExportDialogs::regions_data()
{
    QTest::addColumn<QSize>("selection");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("offered");
    QTest::addColumn<QSize>("preset");
    QTest::addColumn<int>("scale");

    const QSize board(200, 100);
    QTest::addRow("whole board") << QSize(30, 20) << 0 << true << board << -1;
    QTest::addRow("selection, at its own size")
        << QSize(30, 20) << 1 << true << QSize(30, 20) << -1;
    QTest::addRow("no selection to offer") << QSize() << 1 << false << board << -1;
    QTest::addRow("a rectangle not yet dragged has a scale only")
        << QSize() << 2 << true << board << 100;
}

void tst_ExportDialogs::regions()
{
    QFETCH(QSize, selection);
    QFETCH(int, index);
    QFETCH(bool, offered);
    QFETCH(QSize, preset);
    QFETCH(int, scale);

    ExportSceneDialog dialog(QSize(200, 100));
    dialog.setSelectionSize(selection);
    dialog.setFormat(QStringLiteral("JPEG"));
    QCOMPARE(dialog.format(), QStringLiteral("jpg"));
    auto *model = qobject_cast<QStandardItemModel *>(dialog.regionBox()->model());
    QVERIFY(model);
    QCOMPARE(model->item(index)->isEnabled(), offered);
    if (offered)
        dialog.regionBox()->setCurrentIndex(index);
    QCOMPARE(QSize(dialog.exportWidth(), dialog.exportHeight()), preset);
    QCOMPARE(dialog.scale(), scale);
    QCOMPARE(dialog.widthBox()->isEnabled(), scale == -1);
}

void tst_ExportDialogs::refusedCharacters_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");

    QTest::addRow("question mark") << QString() << "ab?c"
                                   << "abc";
    QTest::addRow("all nine refused") << "x"
                                      << "<>:\"/\\|?*"
                                      << "x";
    QTest::addRow("placeholders pass") << QString() << "img_%0-%1"
                                       << "img_%0-%1";
}

void tst_ExportDialogs::refusedCharacters()
{
    QFETCH(QString, start);
    QFETCH(QString, typed);
    QFETCH(QString, expected);

    ExportImagesDialog dialog;
    QLineEdit *edit = dialog.nameOverrideEdit();
    edit->setText(start);
    QSignalSpy changed(edit, &QLineEdit::textChanged);
    QTest::keyClicks(edit, typed);
    QCOMPARE(dialog.nameOverride(), expected);
    QCOMPARE(changed.count(), expected.size() - start.size());
    QVERIFY(dialog.exportCropping());
}

void tst_ExportDialogs::nothingToExportOpensNoDialog()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    SettingsHandler handler(QStringLiteral("Dialogs"));
    auto window = std::make_unique<MainWindow>();

    // Should a dialog open after all, it is closed again so that the test fails instead of
    // waiting for ever.
    int dialogs = 0;
    QTimer guard;
    connect(&guard, &QTimer::timeout, this, [&dialogs] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            ++dialogs;
            modal->close();
        }
    });
    guard.start(0);
    window->exportSceneWithDialog();
    window->exportAllImagesWithDialog();
    window->exportSelectedImages();
    guard.stop();
    QCOMPARE(dialogs, 0);
    QVERIFY(window->isIdle());
}

QTEST_MAIN(tst_ExportDialogs)
#include "tst_exportdialogs.moc"
