#include "ui/applicationlook.h"

#include "input/keybinder.h"
#include "settings/setting.h"
#include "settings/settings.h"
#include "settings/settingshandler.h"
#include "ui/autosaverecoverydialog.h"
#include "ui/colorcustomizer.h"
#include "ui/contextmenu.h"
#include "ui/customizesettings.h"
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

#include <algorithm>
#include <memory>

// The scheme goes to the whole application, as in the program; each test starts from the
// application's own palette and font and no style sheet, and leaves them so. The confirm and
// error dialogs are framed as the dialogs here are (BaseFrame::frameDialog).
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
    void storedFontIsAppliedAtStart();

private:
    void startLook();
    QWidget *createWindow(const QString &kind);
    QColor role(int index) const { return m_colors->scheme().workingSet().roles.at(index).color; }

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsHandler> m_handler;
    std::unique_ptr<ColorCustomizer> m_colors;
    std::unique_ptr<ApplicationLook> m_look;
    std::unique_ptr<QObject> m_settings;
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
    m_settings = std::make_unique<QObject>();
}

void tst_ApplicationLook::cleanup()
{
    m_look.reset();
    m_colors.reset();
    qApp->setStyleSheet(QString());
    QApplication::setPalette(m_startPalette);
    ApplicationLook::setApplicationFont(m_startFont);
    m_settings.reset();
    m_handler.reset();
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

QWidget *tst_ApplicationLook::createWindow(const QString &kind)
{
    if (kind == QLatin1String("update window")) {
        auto *update = new UpdateDialog;
        update->appendDetails(QStringLiteral("Connection refused"));
        return update;
    }
    if (kind == QLatin1String("progress display")) {
        auto *progress = new ProgressDialog(QStringLiteral("Loading"), ProgressDialog::NotModal);
        progress->addEntry(QStringLiteral("Loading images"), 0, 10);
        return progress;
    }
    if (kind == QLatin1String("relink dialog"))
        return new RelinkDialog({ { {}, QStringLiteral("/gone/a.png"), { 1 } } }, false);
    if (kind == QLatin1String("export images dialog"))
        return new ExportImagesDialog;
    if (kind == QLatin1String("export scene dialog"))
        return new ExportSceneDialog(QSize(800, 600));
    if (kind == QLatin1String("autosave recovery dialog"))
        return new AutoSaveRecoveryDialog;
    if (kind == QLatin1String("first-time setup dialog")) {
        const auto setting = [this](const char *name) {
            return new Setting(QString::fromLatin1(name), true, QString(), {}, m_settings.get());
        };
        return new FirstTimeDialog(setting("Embed"), setting("Storage"), setting("Auto Save"));
    }
    if (kind == QLatin1String("file dialog"))
        return new QFileDialog(nullptr, QStringLiteral("Open"), m_dir.path());
    if (kind == QLatin1String("message box")) {
        return new QMessageBox(QMessageBox::Question, QStringLiteral("Confirmation"),
            QStringLiteral("Remove the binding?"), QMessageBox::Yes | QMessageBox::No);
    }
    // The preferences, at the page the kind ends with.
    auto *preferences = new PreferencesWindow;
    preferences->addPage(new CustomizeSettings, QStringLiteral("Settings"));
    preferences->addPage(m_colors.get(), QStringLiteral("Colours"));
    preferences->addPage(KeyBinder::instance(), QStringLiteral("Key bindings"));
    const QStringList pages { QStringLiteral("settings"), QStringLiteral("colours"),
        QStringLiteral("key bindings") };
    preferences->showPage(pages.indexOf(kind.section(QStringLiteral(", "), 1)));
    return preferences;
}

void tst_ApplicationLook::windowsTakeTheScheme_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : { "preferences, settings", "preferences, colours",
             "preferences, key bindings", "update window", "progress display", "relink dialog",
             "export images dialog", "export scene dialog", "autosave recovery dialog",
             "first-time setup dialog", "file dialog", "message box" })
        QTest::addRow("%s", kind) << QString::fromLatin1(kind);
}

void tst_ApplicationLook::windowsTakeTheScheme()
{
    QFETCH(QString, kind);
    startLook();
    // Made in one scheme and switched to another while open: it must follow.
    m_colors->updatePreset(QStringLiteral("light"));
    const std::unique_ptr<QWidget> window(createWindow(kind));
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    m_colors->updatePreset(QStringLiteral("dark"));

    // Most of a window is its background, or the fields and lists on it.
    const QImage image = window->grab().toImage();
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    }
    const QRgb mostCommon = std::max_element(counts.cbegin(), counts.cend()).key();
    QVERIFY2(mostCommon == role(0).rgb() || mostCommon == role(1).rgb(),
        qPrintable(QColor(mostCommon).name()));

    // Text in the text colours; widgets that colour themselves (the presets' previews, the
    // swatches) are left out.
    QList<QWidget *> texts;
    for (QLabel *label : window->findChildren<QLabel *>())
        texts.append(label);
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>())
        texts.append(button);
    for (QWidget *widget : qAsConst(texts)) {
        if (!widget->isVisible() || !widget->styleSheet().isEmpty())
            continue;
        const QColor actual = widget->palette().color(widget->foregroundRole());
        QVERIFY2(actual == role(widget->isEnabled() ? 3 : 4),
            qPrintable(QStringLiteral("%1: %2").arg(
                QString::fromLatin1(widget->metaObject()->className()), actual.name())));
    }
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
    std::unique_ptr<QWidget> window;
    QWidget *probe = nullptr;
    PopupLabel *popup = nullptr;
    if (kind == QLatin1String("popup label")) {
        window = std::make_unique<QWidget>();
        window->resize(1000, 400);
        popup = new PopupLabel(window.get());
        popup->showNotice(QStringLiteral("test"), QStringLiteral("Always on top"),
            QStringLiteral("Ctrl+Shift+A"), QString(), -1);
        probe = popup->findChild<PopupLabelContent *>();
    } else if (kind == QLatin1String("context menu")) {
        auto *menu = new ContextMenu;
        menu->addAction(QStringLiteral("Paste"));
        window.reset(menu);
        probe = menu;
    } else {
        window.reset(createWindow(kind));
        // A label deep inside: the toolkit alone stops at the window.
        probe = window->findChildren<QLabel *>().constLast();
    }
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    const int popupWidth = popup ? popup->width() : 0;

    const QFont chosen(QStringLiteral("DejaVu Serif"), 2 * QApplication::font().pointSize());
    m_colors->setFont(chosen);
    QCOMPARE(probe->font().family(), chosen.family());
    QCOMPARE(probe->font().pointSize(), chosen.pointSize());
    // The notice's pill holds its text in the new font.
    if (popup)
        QVERIFY(popup->width() > popupWidth);
}

void tst_ApplicationLook::storedFontIsAppliedAtStart()
{
    const QFont stored(QStringLiteral("DejaVu Serif"), 13);
    m_handler->store()->setValue(
        SettingsHandler::storageKey(QStringLiteral("Color_Settings/Active/Font")), stored);
    QWidget window;
    auto *inner = new QLabel(QStringLiteral("inside a window"), &window);
    window.show();
    startLook();
    QCOMPARE(QApplication::font().family(), stored.family());
    QCOMPARE(inner->font().family(), stored.family());
    QCOMPARE(inner->font().pointSize(), stored.pointSize());
}

QTEST_MAIN(tst_ApplicationLook)
#include "tst_applicationlook.moc"
