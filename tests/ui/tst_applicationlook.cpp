#include "ui/applicationlook.h"

#include "input/keybinder.h"
#include "settings/setting.h"
#include "settings/settings.h"
#include "settings/settingshandler.h"
#include "ui/autosaverecoverydialog.h"
#include "ui/colorcustomizer.h"
#include "ui/confirmdialog.h"
#include "ui/contextmenu.h"
#include "ui/customizesettings.h"
#include "ui/errordialog.h"
#include "ui/exportimagesdialog.h"
#include "ui/exportscenedialog.h"
#include "ui/firsttimedialog.h"
#include "ui/popuplabel.h"
#include "ui/popuplabelcontent.h"
#include "ui/preferenceswindow.h"
#include "ui/progressdialog.h"
#include "ui/relinkdialog.h"
#include "update/updatedialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QHash>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

// The scheme goes to the whole application here, as in the program: each test starts from the
// application's own palette, font and no style sheet, and leaves them so.
class tst_ApplicationLook : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowsTakeTheScheme_data();
    void windowsTakeTheScheme();
    void fontReachesOpenWidgets_data();
    void fontReachesOpenWidgets();
    void popupLabelWidensWithTheFont();
    void storedFontIsAppliedAtStart();

private:
    void startLook();
    // Shows the window of that kind and hands it to check; a modal one is checked while it runs.
    void withWindow(const QString &kind, const std::function<void(QWidget *)> &check);
    QColor role(int index) const { return m_colors->scheme().workingSet().roles.at(index).color; }

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsHandler> m_handler;
    std::unique_ptr<ColorCustomizer> m_colors;
    std::unique_ptr<ApplicationLook> m_look;
    QPalette m_startPalette;
    QFont m_startFont;
    int m_run = 0;
};

void tst_ApplicationLook::initTestCase()
{
    Q_INIT_RESOURCE(velkora);
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    m_startPalette = QApplication::palette();
    m_startFont = QApplication::font();
}

void tst_ApplicationLook::init()
{
    // A new base name every test: the toolkit caches parsed INI files by name.
    m_handler = std::make_unique<SettingsHandler>(QStringLiteral("Look%1").arg(++m_run));
}

void tst_ApplicationLook::startLook()
{
    m_colors = std::make_unique<ColorCustomizer>();
    m_colors->registerStandard();
    m_colors->addStyleTemplateFile(QStringLiteral(":/cf/style.qss"));
    m_colors->addStyleTemplateFile(QStringLiteral(":/style.qss"));
    m_look = std::make_unique<ApplicationLook>(m_colors.get());
    m_look->apply();
}

void tst_ApplicationLook::cleanup()
{
    m_look.reset();
    m_colors.reset();
    qApp->setStyleSheet(QString());
    QApplication::setPalette(m_startPalette);
    ApplicationLook::setApplicationFont(m_startFont);
    m_handler.reset();
}

void tst_ApplicationLook::withWindow(
    const QString &kind, const std::function<void(QWidget *)> &check)
{
    // The modal ones run their own loop: they are checked from inside it, then closed.
    const auto whileModal = [&check] {
        QTimer::singleShot(0, qApp, [&check] {
            QWidget *dialog = QApplication::activeModalWidget();
            QVERIFY(dialog);
            check(dialog);
            dialog->close();
        });
    };
    if (kind == QLatin1String("confirm dialog")) {
        whileModal();
        ConfirmDialog::ask(nullptr, QStringLiteral("Replace"), QStringLiteral("Replace the board?"),
            { { QStringLiteral("Replace"), QDialogButtonBox::AcceptRole },
                { QString(), QDialogButtonBox::RejectRole, QDialogButtonBox::Cancel } });
        return;
    }
    if (kind == QLatin1String("error dialog")) {
        whileModal();
        ErrorDialog::show(nullptr, QStringLiteral("Could not save"), QStringLiteral("disk full"));
        return;
    }

    std::unique_ptr<QWidget> window;
    if (kind.startsWith(QLatin1String("preferences"))) {
        auto *preferences = new PreferencesWindow;
        preferences->addPage(new CustomizeSettings, QStringLiteral("Settings"));
        preferences->addPage(m_colors.get(), QStringLiteral("Colours"));
        preferences->addPage(KeyBinder::instance(), QStringLiteral("Key bindings"));
        preferences->showPage(kind.endsWith(QLatin1String("key bindings")) ? 2
                : kind.endsWith(QLatin1String("colours"))                  ? 1
                                                                           : 0);
        window.reset(preferences);
    } else if (kind == QLatin1String("update window")) {
        auto *update = new UpdateDialog;
        update->setStatus(QStringLiteral("Velkora 9.0 is available"));
        update->setChangelog(QStringLiteral("<p>Faster boards.</p>"));
        update->appendDetails(QStringLiteral("Downloading"));
        window.reset(update);
    } else if (kind == QLatin1String("progress display")) {
        auto *progress = new ProgressDialog(QStringLiteral("Loading"), ProgressDialog::NotModal);
        progress->addEntry(QStringLiteral("Loading images"), 0, 10);
        window.reset(progress);
    } else if (kind == QLatin1String("relink dialog")) {
        RelinkTree::MissingImage missing;
        missing.path = QStringLiteral("/gone/picture.png");
        missing.itemIds = { 1 };
        window = std::make_unique<RelinkDialog>(QList<RelinkTree::MissingImage> { missing }, false);
    } else if (kind == QLatin1String("export images dialog")) {
        window = std::make_unique<ExportImagesDialog>();
    } else if (kind == QLatin1String("export scene dialog")) {
        window = std::make_unique<ExportSceneDialog>(QSize(800, 600));
    } else if (kind == QLatin1String("autosave recovery dialog")) {
        window = std::make_unique<AutoSaveRecoveryDialog>();
    } else if (kind == QLatin1String("first-time setup dialog")) {
        auto *embed = new Setting(QStringLiteral("Embed Local Files"), true);
        auto *storage = new Setting(QStringLiteral("Picture Storage"), 1);
        auto *autoSave = new Setting(QStringLiteral("Auto Save"), false);
        window = std::make_unique<FirstTimeDialog>(embed, storage, autoSave);
        for (Setting *setting : { embed, storage, autoSave })
            setting->setParent(window.get());
    } else if (kind == QLatin1String("file dialog")) {
        auto *files = new QFileDialog(nullptr, QStringLiteral("Open"), m_dir.path());
        files->setOption(QFileDialog::DontUseNativeDialog);
        window.reset(files);
    } else if (kind == QLatin1String("message box")) {
        window
            = std::make_unique<QMessageBox>(QMessageBox::Question, QStringLiteral("Confirmation"),
                QStringLiteral("Remove the binding?"), QMessageBox::Yes | QMessageBox::No);
    }
    QVERIFY2(window, qPrintable(kind));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    check(window.get());
}

void tst_ApplicationLook::windowsTakeTheScheme_data()
{
    QTest::addColumn<QString>("kind");

    for (const char *kind :
        { "preferences, settings", "preferences, colours", "preferences, key bindings",
            "update window", "progress display", "relink dialog", "export images dialog",
            "export scene dialog", "autosave recovery dialog", "first-time setup dialog",
            "confirm dialog", "error dialog", "file dialog", "message box" }) {
        QTest::addRow("%s", kind) << QString::fromLatin1(kind);
    }
}

void tst_ApplicationLook::windowsTakeTheScheme()
{
    QFETCH(QString, kind);
    startLook();
    // Shown in one scheme and switched to another while open: both must follow.
    m_colors->updatePreset(QStringLiteral("light"));
    withWindow(kind, [this](QWidget *window) {
        m_colors->updatePreset(QStringLiteral("dark"));
        const QColor background = role(0);
        const QColor field = role(1);
        const QColor text = role(3);
        const QColor disabledText = role(4);

        // Most of a window is its background, or the fields and lists on it.
        const QImage image = window->grab().toImage();
        QHash<QRgb, int> counts;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                ++counts[image.pixel(x, y) | 0xff000000];
        }
        QRgb mostCommon = 0;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
            if (it.value() > counts.value(mostCommon))
                mostCommon = it.key();
        }
        QVERIFY2(mostCommon == background.rgb() || mostCommon == field.rgb(),
            qPrintable(QColor(mostCommon).name()));

        // Widgets that colour themselves (the preset previews, the swatches) are left out.
        QList<QWidget *> texts;
        for (QLabel *label : window->findChildren<QLabel *>())
            texts.append(label);
        for (QAbstractButton *button : window->findChildren<QAbstractButton *>())
            texts.append(button);
        int checked = 0;
        for (QWidget *widget : qAsConst(texts)) {
            if (!widget->isVisible() || !widget->styleSheet().isEmpty())
                continue;
            const QColor expected = widget->isEnabled() ? text : disabledText;
            const QColor actual = widget->palette().color(widget->foregroundRole());
            QVERIFY2(actual == expected,
                qPrintable(QStringLiteral("%1 \"%2\": %3")
                               .arg(widget->metaObject()->className(), widget->objectName(),
                                   actual.name())));
            ++checked;
        }
        QVERIFY(checked > 0);
    });
}

void tst_ApplicationLook::fontReachesOpenWidgets_data()
{
    QTest::addColumn<QString>("kind");

    QTest::addRow("dialog text") << "first-time setup dialog";
    QTest::addRow("preferences page") << "preferences, colours";
    QTest::addRow("update window") << "update window";
    QTest::addRow("popup label") << "popup label";
    QTest::addRow("context menu") << "context menu";
}

void tst_ApplicationLook::fontReachesOpenWidgets()
{
    QFETCH(QString, kind);
    startLook();
    const QFont chosen(QStringLiteral("DejaVu Serif"), 15);
    QVERIFY(QApplication::font().family() != chosen.family());
    const auto changesFont = [this, &chosen](QWidget *probe) {
        QVERIFY(probe);
        m_colors->setFont(chosen);
        QCOMPARE(probe->font().family(), chosen.family());
        QCOMPARE(probe->font().pointSize(), chosen.pointSize());
    };

    if (kind == QLatin1String("popup label")) {
        QWidget frame;
        frame.resize(800, 400);
        auto *label = new PopupLabel(&frame);
        frame.show();
        label->showNotice(QStringLiteral("test"), QStringLiteral("Always on top"),
            QStringLiteral("Ctrl+Shift+A"), QString(), -1);
        changesFont(label->findChild<PopupLabelContent *>());
    } else if (kind == QLatin1String("context menu")) {
        ContextMenu menu;
        menu.addAction(QStringLiteral("Paste"));
        menu.show();
        changesFont(&menu);
    } else {
        withWindow(kind, [&changesFont](QWidget *window) {
            // A label deep inside the window: the toolkit alone stops at the window.
            QLabel *deepest = nullptr;
            for (QLabel *label : window->findChildren<QLabel *>()) {
                if (label->isVisible() && label->objectName() != QLatin1String("windowTitle"))
                    deepest = label;
            }
            changesFont(deepest);
        });
    }
}

void tst_ApplicationLook::popupLabelWidensWithTheFont()
{
    startLook();
    QWidget frame;
    frame.resize(1000, 400);
    auto *label = new PopupLabel(&frame);
    frame.show();
    label->showNotice(QStringLiteral("test"), QStringLiteral("Always on top"),
        QStringLiteral("Ctrl+Shift+A"), QString(), -1);
    const int before = label->width();
    QFont larger = QApplication::font();
    larger.setPointSize(larger.pointSize() * 2);
    m_colors->setFont(larger);
    // The pill holds its text in the new font and stays centred.
    QVERIFY2(label->width() > before, qPrintable(QString::number(label->width())));
    QVERIFY(qAbs(label->geometry().center().x() - frame.rect().center().x()) <= 1);
}

void tst_ApplicationLook::storedFontIsAppliedAtStart()
{
    const QFont stored(QStringLiteral("DejaVu Serif"), 13);
    m_handler->store()->setValue(
        SettingsHandler::storageKey(QStringLiteral("Color_Settings/Active/Font")), stored);
    QLabel existing(QStringLiteral("made before the look was applied"));
    QWidget window;
    auto *inner = new QLabel(QStringLiteral("inside a window"), &window);
    window.show();

    startLook();
    QCOMPARE(QApplication::font().family(), stored.family());
    QCOMPARE(existing.font().family(), stored.family());
    QCOMPARE(inner->font().family(), stored.family());
    QCOMPARE(inner->font().pointSize(), stored.pointSize());
}

QTEST_MAIN(tst_ApplicationLook)
#include "tst_applicationlook.moc"
