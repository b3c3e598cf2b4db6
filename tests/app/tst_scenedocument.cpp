#include "app/abstractdocumentprompter.h"
#include "app/scenedocument.h"
#include "commands/basecommand.h"
#include "commands/commandhandler.h"
#include "jobs/loadjob.h"
#include "persistence/autosavefile.h"
#include "persistence/savefileloader.h"
#include "platform/filefaults.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <cerrno>
#include <cstring>

namespace {

// Answers questions by button text, in order; a question beyond the answers given is closed
// without one. Unattended, it answers nothing, as a script would.
class ScriptedPrompter : public AbstractDocumentPrompter {
public:
    bool isInteractive() const override { return interactive; }

    int ask(const QString &title, const QString &message,
        const QList<ConfirmDialog::Button> &buttons, Setting *, int) override
    {
        questions << title + QLatin1String(": ") + message;
        const QString wanted = answers.isEmpty() ? QString() : answers.takeFirst();
        if (!interactive)
            return -1;
        for (int i = 0; i < buttons.size(); ++i) {
            QString text = buttons.at(i).text;
            if (text.isEmpty() && buttons.at(i).standard == QDialogButtonBox::Cancel)
                text = QStringLiteral("Cancel");
            if (!wanted.isEmpty() && text == wanted)
                return i;
        }
        return -1;
    }

    void showError(const QString &heading, const QString &details) override
    {
        errors << heading + QLatin1Char(' ') + details;
    }

    QString askSavePath(
        const QString &, const QString &, const QStringList &fileTypes, int *chosenType) override
    {
        ++savePathsAsked;
        *chosenType = std::max(0, int(fileTypes.indexOf(fileType)));
        return savePaths.isEmpty() ? QString() : savePaths.takeFirst();
    }

    bool interactive = true;
    QStringList answers;
    QStringList questions;
    QStringList errors;
    QStringList savePaths;
    QString fileType;
    int savePathsAsked = 0;
};

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool patch(const QString &path, qint64 offset, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.seek(offset)
        && file.write(bytes) == bytes.size();
}

// Warnings logged while a job runs: what a save without dialogs tells about its failure.
QStringList &warnings()
{
    static QStringList logged;
    return logged;
}

QtMessageHandler previousHandler = nullptr;

void keepWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg)
        warnings() << message;
    previousHandler(type, context, message);
}

QImage noise(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            image.setPixel(x, y, seed >> 8);
        }
    }
    return image;
}

} // namespace

Q_DECLARE_METATYPE(SceneDocument::Operation)
Q_DECLARE_METATYPE(FileFaults::Operation)

// The scene file's life cycle without a window: the questions of saving and opening, and what
// each answer leaves on disk. Boards are empty; their scene rectangle tells them apart.
class tst_SceneDocument : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void overwriteIsAsked_data();
    void overwriteIsAsked();
    void leftOverBackup_data();
    void leftOverBackup();
    void backupFoundOnLoad_data();
    void backupFoundOnLoad();
    void corruptFileOnLoad_data();
    void corruptFileOnLoad();
    void unsavedChangesDeferTheOperation_data();
    void unsavedChangesDeferTheOperation();
    void abandonedSaveDropsTheOperation_data();
    void abandonedSaveDropsTheOperation();
    void loadGoesOnAfterTheChosenSave();
    void quietSaveAsksNothing_data();
    void quietSaveAsksNothing();
    void lostPicturesAreTold();
    void shrunkBoardSavedInPlaceOpensQuietly_data();
    void shrunkBoardSavedInPlaceOpensQuietly();
    void writeFaultsKeepTheBoard_data();
    void writeFaultsKeepTheBoard();

private:
    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    // Saves the board (to a new file when given a path) and waits for its end.
    bool saveAndWait(const QString &file = QString());
    bool loadAndWait(const QString &file);
    bool waitUntilIdle();
    // The operation a caller defers: it notes its name, and whether the board was saved by then.
    std::function<void()> deferredOperation(const QString &name);

    QTemporaryDir m_dir;
    QThread m_thread;
    SaveFileLoader *m_loader = nullptr;
    CommandHandler m_commands;
    ScriptedPrompter m_prompter;
    QStringList m_invoked;
    SceneDocument *m_document = nullptr;
    int m_running = 0;
    QRectF m_board;
    QRectF m_loadedBoard;
    QList<ItemRecord> m_records;
};

void tst_SceneDocument::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_loader = new SaveFileLoader;
    m_loader->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_loader, &QObject::deleteLater);
    m_thread.start();
    connect(m_loader, &SaveFileLoader::loadedSceneState, this,
        [this](const SaveFileLoader::SceneState &state) { m_loadedBoard = state.sceneRect; });
    connect(m_loader, &BaseLoader::finished, this,
        [this](const QString &message, const QString &details, LoadJob *job) {
            --m_running;
            if (m_document && m_document->ownsJob(job)) {
                m_document->jobFinished(job, message, details);
                m_document->runFollowUp(job);
            }
            job->deleteLater();
        });
}

void tst_SceneDocument::init()
{
    SceneDocument::Host host;
    host.sceneState = [this] {
        SaveFileLoader::SceneState state;
        state.sceneRect = m_board;
        state.items = m_records;
        // A stored counter of 0 marks a scene state the reader does not trust.
        state.nextItemId = 1;
        return state;
    };
    host.createJob = [this](bool) {
        ++m_running;
        return new LoadJob(m_loader);
    };
    host.isLoading = [this] { return m_running > 0; };
    host.refuseWhileBusy = [this] { return m_running > 0; };
    host.clearBoard = [this] {
        m_commands.clear();
        m_document->clear();
    };
    m_document = new SceneDocument(m_loader, &m_commands, host, this);
    m_document->setPrompter(&m_prompter);
    m_prompter = ScriptedPrompter();
    m_invoked.clear();
    m_board = QRectF(0, 0, 100, 100);
    m_loadedBoard = QRectF();
    m_records.clear();
}

void tst_SceneDocument::cleanup()
{
    QVERIFY(waitUntilIdle());
    FileFaults::disarm();
    if (previousHandler)
        qInstallMessageHandler(std::exchange(previousHandler, nullptr));
    AutoSaveFile::setFolderForTesting(QString());
    delete m_document;
    m_document = nullptr;
    m_commands.clear();
    const QStringList names = QDir(m_dir.path()).entryList(QDir::Files);
    for (const QString &name : names)
        QFile::remove(m_dir.filePath(name));
}

void tst_SceneDocument::cleanupTestCase()
{
    m_thread.quit();
    m_thread.wait();
}

bool tst_SceneDocument::waitUntilIdle()
{
    // Follow-ups start new jobs from within the end of the last one: idle means none is left.
    return QTest::qWaitFor([this] { return m_running == 0; }, 30000);
}

std::function<void()> tst_SceneDocument::deferredOperation(const QString &name)
{
    return [this, name] {
        m_invoked << (m_document->hasUnsavedChanges() ? name + QLatin1String(" before the save")
                                                      : name);
    };
}

bool tst_SceneDocument::saveAndWait(const QString &file)
{
    if (file.isEmpty())
        m_document->save();
    else
        m_document->save(file, SceneDocument::NoBackup);
    return waitUntilIdle();
}

bool tst_SceneDocument::loadAndWait(const QString &file)
{
    m_document->load(file);
    return waitUntilIdle();
}

void tst_SceneDocument::overwriteIsAsked_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<bool>("interactive");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("outcome");

    const QString elsewhere = QStringLiteral("changed outside of Velkora since you opened it");
    const QString newer = QStringLiteral("newer version of Velkora (1.12.3)");
    QTest::addRow("changed elsewhere, overwrite")
        << QByteArray() << true << "Overwrite" << elsewhere << "written";
    QTest::addRow("changed elsewhere, save as")
        << QByteArray() << true << "Save As" << elsewhere << "saved as";
    QTest::addRow("changed elsewhere, cancel")
        << QByteArray() << true << "Cancel" << elsewhere << "kept";
    QTest::addRow("changed elsewhere, unattended")
        << QByteArray() << false << QString() << QString() << "written";
    QTest::addRow("newer 1.12.3, overwrite")
        << QByteArray("1.12.3") << true << "Overwrite" << newer << "written";
    QTest::addRow("newer 1.12.3, cancel")
        << QByteArray("1.12.3") << true << "Cancel" << newer << "kept";
    QTest::addRow("newer 1.12.3, unattended")
        << QByteArray("1.12.3") << false << QString() << QString() << "written";
    QTest::addRow("same release 1.11.1")
        << QByteArray("1.11.1") << true << QString() << QString() << "written";
    QTest::addRow("newer patch 1.11.9")
        << QByteArray("1.11.9") << true << QString() << QString() << "written";
}

void tst_SceneDocument::overwriteIsAsked()
{
    QFETCH(QByteArray, version);
    QFETCH(bool, interactive);
    QFETCH(QString, answer);
    QFETCH(QString, question);
    QFETCH(QString, outcome);

    const QString board = path("board.vlk");
    QVERIFY(saveAndWait(board));
    if (version.isEmpty()) {
        // Another instance saved it meanwhile: the scene rectangle is checksummed.
        QVERIFY(patch(board, 112, QByteArray(8, '\x11')));
    } else {
        // The application version sits at offset 28 in UTF-16, outside the checksummed bytes.
        QByteArray utf16;
        for (char c : version)
            utf16 += QByteArray(1, '\0') + c;
        QVERIFY(patch(board, 28, utf16));
    }
    const QByteArray before = contents(board);

    m_prompter.interactive = interactive;
    m_prompter.answers = QStringList { answer };
    m_prompter.savePaths = QStringList { path("other.vlk") };
    m_board = QRectF(0, 0, 300, 200);
    QVERIFY(saveAndWait());

    QCOMPARE(m_prompter.questions.size(), question.isEmpty() ? 0 : 1);
    if (!question.isEmpty()) {
        QVERIFY2(m_prompter.questions.first().startsWith(QLatin1String("Save Warning: ")),
            qPrintable(m_prompter.questions.first()));
        QVERIFY2(m_prompter.questions.first().contains(question),
            qPrintable(m_prompter.questions.first()));
    }
    // Whatever the answer, the backup of this save is gone afterwards.
    QVERIFY(!QFile::exists(board + QLatin1String(".old")));
    QVERIFY2(m_prompter.errors.isEmpty(), qPrintable(m_prompter.errors.join('|')));
    QCOMPARE(m_prompter.savePathsAsked, outcome == QLatin1String("saved as") ? 1 : 0);
    if (outcome == QLatin1String("written")) {
        QVERIFY(contents(board) != before);
        QCOMPARE(m_document->currentPath(), board);
    } else {
        QCOMPARE(contents(board), before);
    }
    QCOMPARE(QFile::exists(path("other.vlk")), outcome == QLatin1String("saved as"));
    if (outcome == QLatin1String("saved as"))
        QCOMPARE(m_document->currentPath(), path("other.vlk"));

    if (outcome != QLatin1String("kept")) {
        // What was written loads back as the new board.
        const QString written = m_document->currentPath();
        m_document->clear();
        QVERIFY(loadAndWait(written));
        QCOMPARE(m_loadedBoard, m_board);
    }
}

void tst_SceneDocument::leftOverBackup_data()
{
    QTest::addColumn<bool>("leftOver");
    QTest::addColumn<bool>("interactive");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("written");

    QTest::addRow("none: backup made and dropped") << false << true << QString() << true;
    QTest::addRow("left over, overwrite") << true << true << "Overwrite" << true;
    QTest::addRow("left over, cancel") << true << true << "Cancel" << false;
    // No one can tell whether the user made that file: a script does not save over it.
    QTest::addRow("left over, unattended") << true << false << QString() << false;
}

void tst_SceneDocument::leftOverBackup()
{
    QFETCH(bool, leftOver);
    QFETCH(bool, interactive);
    QFETCH(QString, answer);
    QFETCH(bool, written);

    const QString board = path("kept.vlk");
    const QString backup = board + QLatin1String(".old");
    QVERIFY(saveAndWait(board));
    if (leftOver) {
        QFile file(backup);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("from a failed save");
    }
    const QByteArray before = contents(board);

    m_prompter.interactive = interactive;
    m_prompter.answers = QStringList { answer };
    m_commands.push(new BaseCommand);
    m_board = QRectF(0, 0, 50, 70);
    QVERIFY(saveAndWait());

    QCOMPARE(m_prompter.questions.size(), leftOver ? 1 : 0);
    if (leftOver) {
        QVERIFY(m_prompter.questions.first().startsWith(QLatin1String("Backup Warning: ")));
        QVERIFY(
            m_prompter.questions.first().contains(QLatin1String("File already exists: ") + backup));
    }
    QCOMPARE(contents(board) != before, written);
    QCOMPARE(m_document->hasUnsavedChanges(), !written);
    // A left-over backup the user kept is left exactly as it was.
    QCOMPARE(contents(backup), written ? QByteArray() : QByteArray("from a failed save"));
    QVERIFY(m_prompter.errors.isEmpty());
}

void tst_SceneDocument::backupFoundOnLoad_data()
{
    QTest::addColumn<bool>("interactive");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<QString>("opened");

    QTest::addRow("load current") << true << "Load Current" << true << "x.vlk";
    QTest::addRow("load backup") << true << "Load Backup" << true << "x.vlk.old";
    QTest::addRow("closed without answer") << true << QString() << true << QString();
    QTest::addRow("unattended") << false << QString() << false << "x.vlk";
}

void tst_SceneDocument::backupFoundOnLoad()
{
    QFETCH(bool, interactive);
    QFETCH(QString, answer);
    QFETCH(bool, asked);
    QFETCH(QString, opened);

    // A successful save drops the backup of its file: the two are written under other names.
    m_board = QRectF(0, 0, 10, 10);
    QVERIFY(saveAndWait(path("backup.vlk")));
    QVERIFY(QFile::rename(path("backup.vlk"), path("x.vlk.old")));
    m_board = QRectF(0, 0, 20, 20);
    QVERIFY(saveAndWait(path("current.vlk")));
    QVERIFY(QFile::rename(path("current.vlk"), path("x.vlk")));
    m_document->clear();

    m_prompter.interactive = interactive;
    m_prompter.answers = QStringList { answer };
    QVERIFY(loadAndWait(path("x.vlk")));
    QCOMPARE(m_prompter.questions.size(), asked ? 1 : 0);
    if (asked) {
        const QString &question = m_prompter.questions.first();
        QVERIFY2(question.startsWith(QLatin1String("Backup Exists: A backup has been found")),
            qPrintable(question));
        QVERIFY(question.contains(QLatin1String("x.vlk:<br>Timestamp: ")));
        QVERIFY(question.contains(QLatin1String("x.vlk.old:<br>Timestamp: ")));
    }
    QCOMPARE(m_document->currentPath(), opened.isEmpty() ? QString() : m_dir.filePath(opened));
    const QRectF expected = opened == QLatin1String("x.vlk.old") ? QRectF(0, 0, 10, 10)
        : opened.isEmpty()                                       ? QRectF()
                                                                 : QRectF(0, 0, 20, 20);
    QCOMPARE(m_loadedBoard, expected);
}

void tst_SceneDocument::corruptFileOnLoad_data()
{
    QTest::addColumn<bool>("withBackup");
    QTest::addColumn<bool>("interactive");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<int>("questions");
    QTest::addColumn<QString>("opened");
    QTest::addColumn<QString>("error");

    // Recovery reads pictures only, and these boards have none: the error shows it was tried.
    QTest::addRow("force open") << false << true << QStringList { "Force Open" } << 1 << QString()
                                << "Could not recover any images.";
    QTest::addRow("cancel") << false << true << QStringList { "Cancel" } << 1 << QString()
                            << QString();
    // The backup is offered twice: when the load starts, and again once the file proves corrupt.
    QTest::addRow("load backup") << true << true << QStringList { "Load Current", "Load Backup" }
                                 << 2 << "m.vlk.old" << QString();
    QTest::addRow("unattended") << false << false << QStringList() << 0 << "m.vlk" << QString();
}

void tst_SceneDocument::corruptFileOnLoad()
{
    QFETCH(bool, withBackup);
    QFETCH(bool, interactive);
    QFETCH(QStringList, answers);
    QFETCH(int, questions);
    QFETCH(QString, opened);
    QFETCH(QString, error);

    const QString board = path("m.vlk");
    QVERIFY(saveAndWait(board));
    if (withBackup)
        QVERIFY(QFile::copy(board, board + QLatin1String(".old")));
    m_document->clear();
    // The first character of the stored checksum (UTF-16 at offset 44) no longer matches.
    const char stored = contents(board).at(45);
    QVERIFY(patch(board, 45, QByteArray(1, stored == '0' ? '1' : '0')));

    m_prompter.interactive = interactive;
    m_prompter.answers = answers;
    QVERIFY(loadAndWait(board));
    QCOMPARE(m_prompter.questions.size(), questions);
    if (questions > 0) {
        const QString &question = m_prompter.questions.last();
        QVERIFY2(question.startsWith(QLatin1String(
                     "Load Error: <b>WARNING</b><br><br>The file you are trying to open might be "
                     "corrupt. What would you like to do?")),
            qPrintable(question));
        QCOMPARE(question.contains(QLatin1String("<b>Load backup</b>")), withBackup);
        QVERIFY(question.contains(QLatin1String("<b>Force open</b>")));
        QVERIFY(!question.contains(QLatin1String("<b>Open anyway</b>")));
    }
    QCOMPARE(m_document->currentPath(), opened.isEmpty() ? QString() : m_dir.filePath(opened));
    QCOMPARE(m_prompter.errors.size(), error.isEmpty() ? 0 : 1);
    if (!error.isEmpty())
        QVERIFY2(m_prompter.errors.first().contains(error), qPrintable(m_prompter.errors.first()));
}

void tst_SceneDocument::unsavedChangesDeferTheOperation_data()
{
    QTest::addColumn<SceneDocument::Operation>("operation");
    QTest::addColumn<bool>("interactive");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("goesOn");
    QTest::addColumn<QString>("deferred");

    QTest::addRow("clear, save") << SceneDocument::Operation::Clear << true << "Save" << false
                                 << "clear";
    QTest::addRow("clear, don't save")
        << SceneDocument::Operation::Clear << true << "Don't Save" << true << QString();
    QTest::addRow("clear, cancel")
        << SceneDocument::Operation::Clear << true << "Cancel" << false << QString();
    QTest::addRow("load, save") << SceneDocument::Operation::Load << true << "Save" << false
                                << "load";
    QTest::addRow("close, save") << SceneDocument::Operation::Close << true << "Save" << false
                                 << "close";
    QTest::addRow("update, save") << SceneDocument::Operation::Update << true << "Save" << false
                                  << "update";
    // A script's load replaces the board without asking; clearing is not its to decide.
    QTest::addRow("load, unattended")
        << SceneDocument::Operation::Load << false << QString() << true << QString();
    QTest::addRow("clear, unattended")
        << SceneDocument::Operation::Clear << false << QString() << false << QString();
}

void tst_SceneDocument::unsavedChangesDeferTheOperation()
{
    QFETCH(SceneDocument::Operation, operation);
    QFETCH(bool, interactive);
    QFETCH(QString, answer);
    QFETCH(bool, goesOn);
    QFETCH(QString, deferred);

    QVERIFY(saveAndWait(path("edited.vlk")));
    QVERIFY(!m_document->hasUnsavedChanges());
    m_commands.push(new BaseCommand);
    QVERIFY(m_document->hasUnsavedChanges());

    m_prompter.interactive = interactive;
    m_prompter.answers = QStringList { answer };
    const QString name = deferred.isEmpty() ? QStringLiteral("operation") : deferred;
    QCOMPARE(m_document->confirmUnsavedChanges(operation, deferredOperation(name)), goesOn);
    QVERIFY(waitUntilIdle());
    // The operation runs only after the save it waited for has ended.
    QTRY_COMPARE(m_invoked, deferred.isEmpty() ? QStringList() : QStringList { deferred });
    QCOMPARE(m_document->hasUnsavedChanges(), deferred.isEmpty());
}

void tst_SceneDocument::abandonedSaveDropsTheOperation_data()
{
    QTest::addColumn<SceneDocument::Operation>("operation");
    QTest::addColumn<QString>("abandon");

    const struct {
        const char *name;
        SceneDocument::Operation operation;
    } operations[] = { { "close", SceneDocument::Operation::Close },
        { "clear", SceneDocument::Operation::Clear }, { "load", SceneDocument::Operation::Load },
        { "update", SceneDocument::Operation::Update } };
    for (const auto &operation : operations) {
        for (const char *abandon : { "file dialog cancelled", "backup question declined",
                 "file cannot be opened", "overwrite question cancelled" })
            QTest::addRow("%s, %s", operation.name, abandon)
                << operation.operation << QString::fromLatin1(abandon);
    }
}

// Whatever way the save chosen in the unsaved-changes question is given up, the operation it
// would have led to goes with it: the next ordinary save must not close, clear, load or restart.
// Opening a board asks from within the document, which defers the load itself.
void tst_SceneDocument::abandonedSaveDropsTheOperation()
{
    QFETCH(SceneDocument::Operation, operation);
    QFETCH(QString, abandon);

    const QString board = path("board.vlk");
    if (abandon != QLatin1String("file dialog cancelled"))
        QVERIFY(saveAndWait(board));
    m_commands.push(new BaseCommand);
    QStringList answers { QStringLiteral("Save") };
    if (abandon == QLatin1String("backup question declined")) {
        QVERIFY(QFile::copy(board, SceneDocument::backupPath(board)));
        answers << QStringLiteral("Cancel");
    } else if (abandon == QLatin1String("file cannot be opened")) {
        QVERIFY(QFile::rename(board, path("moved.vlk")));
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("board.vlk")));
    } else if (abandon == QLatin1String("overwrite question cancelled")) {
        QVERIFY(patch(board, 112, QByteArray(8, '\x11')));
        answers << QStringLiteral("Cancel");
    }
    m_prompter.answers = answers;
    if (operation == SceneDocument::Operation::Load)
        m_document->load(path("next.vlk"));
    else
        QVERIFY(!m_document->confirmUnsavedChanges(
            operation, deferredOperation(QStringLiteral("operation"))));
    QVERIFY(m_prompter.questions.value(0).startsWith(QLatin1String("Unsaved Changes: ")));
    QVERIFY(waitUntilIdle());
    QVERIFY(m_document->hasUnsavedChanges());
    const int errors = m_prompter.errors.size();

    // The way is clear again, and the user saves as usual.
    QFile::remove(SceneDocument::backupPath(board));
    if (abandon == QLatin1String("file cannot be opened")) {
        QVERIFY(QDir(m_dir.path()).rmdir(QStringLiteral("board.vlk")));
        QVERIFY(QFile::rename(path("moved.vlk"), board));
    }
    m_prompter.savePaths = QStringList { board };
    m_prompter.answers = QStringList { QStringLiteral("Overwrite") };
    QVERIFY(saveAndWait());
    QVERIFY(!m_document->hasUnsavedChanges());
    QCoreApplication::processEvents();
    QVERIFY(waitUntilIdle());
    QCOMPARE(m_invoked, QStringList());
    // A load run by mistake would have opened the missing next.vlk, or failed to.
    QCOMPARE(m_document->currentPath(), board);
    QCOMPARE(m_prompter.errors.size(), errors);
}

// The board is saved as chosen, then the file asked for opens without a second question.
void tst_SceneDocument::loadGoesOnAfterTheChosenSave()
{
    m_board = QRectF(0, 0, 30, 40);
    QVERIFY(saveAndWait(path("next.vlk")));
    m_board = QRectF(0, 0, 100, 100);
    QVERIFY(saveAndWait(path("edited.vlk")));
    m_board = QRectF(0, 0, 60, 60);
    m_commands.push(new BaseCommand);

    m_prompter.answers = QStringList { QStringLiteral("Save") };
    m_document->load(path("next.vlk"));
    QTRY_COMPARE(m_document->currentPath(), path("next.vlk"));
    QVERIFY(waitUntilIdle());
    QCOMPARE(m_loadedBoard, QRectF(0, 0, 30, 40));
    QCOMPARE(m_prompter.questions.size(), 1);
    QVERIFY(!m_document->hasUnsavedChanges());

    QVERIFY(loadAndWait(path("edited.vlk")));
    QCOMPARE(m_loadedBoard, QRectF(0, 0, 60, 60));
}

void tst_SceneDocument::quietSaveAsksNothing_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("changedElsewhere");
    QTest::addColumn<bool>("leftOverBackup");
    QTest::addColumn<bool>("written");

    QTest::addRow("new file") << "new.vlk" << false << false << true;
    QTest::addRow("over a board") << "board.vlk" << false << false << true;
    QTest::addRow("over a board changed elsewhere, with a left-over backup")
        << "board.vlk" << true << true << true;
    QTest::addRow("into a missing folder") << "missing/board.vlk" << false << false << false;
    QTest::addRow("over a folder") << "folder" << false << false << false;
}

void tst_SceneDocument::quietSaveAsksNothing()
{
    QFETCH(QString, target);
    QFETCH(bool, changedElsewhere);
    QFETCH(bool, leftOverBackup);
    QFETCH(bool, written);

    const QString file = m_dir.filePath(target);
    QVERIFY(saveAndWait(path("board.vlk")));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("folder")));
    if (changedElsewhere)
        QVERIFY(patch(path("board.vlk"), 112, QByteArray(8, '\x11')));
    if (leftOverBackup)
        QVERIFY(QFile::copy(path("board.vlk"), path("board.vlk.old")));
    const QByteArray before = contents(path("board.vlk"));
    // The board replacing it keeps what the user allowed of the old one.
    const QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser
        | QFile::WriteUser | QFile::ReadOther;
    QVERIFY(QFile::setPermissions(path("board.vlk"), permissions));

    m_board = QRectF(0, 0, 40, 40);
    if (!written)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Failed to")));
    m_document->saveQuiet(file);
    QVERIFY(waitUntilIdle());

    QVERIFY2(m_prompter.questions.isEmpty(), qPrintable(m_prompter.questions.join('|')));
    QVERIFY(m_prompter.errors.isEmpty());
    QCOMPARE(m_document->currentPath(), written ? file : path("board.vlk"));
    // Only the boards are left: nothing half written, no backup.
    QStringList expected { QStringLiteral("board.vlk") };
    if (written && target != QLatin1String("board.vlk"))
        expected << target;
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), expected);
    QVERIFY(QFileInfo(path("folder")).isDir());
    if (target == QLatin1String("board.vlk")) {
        QVERIFY(contents(file) != before);
        QCOMPARE(QFile::permissions(file), permissions);
    } else {
        QCOMPARE(contents(path("board.vlk")), before);
    }
    if (written) {
        m_document->clear();
        QVERIFY(loadAndWait(file));
        QCOMPARE(m_loadedBoard, m_board);
    }
}

// A board that lost a picture opens with the rest, and says once what was left out.
void tst_SceneDocument::lostPicturesAreTold()
{
    QImage pixels(4, 3, QImage::Format_ARGB32_Premultiplied);
    pixels.fill(Qt::red);
    ItemRecord picture;
    picture.id = 0;
    picture.image = pixels;
    ItemRecord second = picture;
    second.id = 1;
    ItemRecord note;
    note.type = ItemRecord::Type::Note;
    note.id = 2;
    note.text = QStringLiteral("kept");
    m_records = { picture, second, note };
    const QString board = path("lost.vlk");
    QVERIFY(saveAndWait(board));
    m_records.clear();
    m_document->clear();
    // The index is the file's last 40 bytes; the first entry ends 12 bytes in. (The last entry's
    // end is where the records begin: moving it would break the whole board.)
    const qint64 size = contents(board).size();
    QByteArray end(8, '\0');
    qToBigEndian(size + 100, end.data());
    QVERIFY(patch(board, size - 40 + 12, end));

    // Not asked about the checksum the patch broke: the load goes on.
    m_prompter.interactive = false;
    QVERIFY(loadAndWait(board));
    QCOMPARE(m_document->currentPath(), board);
    QCOMPARE(m_prompter.errors,
        QStringList { "1 picture could not be read: the file ends before their data. " });
}

void tst_SceneDocument::shrunkBoardSavedInPlaceOpensQuietly_data()
{
    QTest::addColumn<int>("left");
    QTest::addRow("every picture undone") << 0;
    QTest::addRow("the newer picture undone") << 1;
}

// Two pictures saved, then taken off the board again and saved over the file with its backup:
// the board opens as saved, without the corrupt-file question.
void tst_SceneDocument::shrunkBoardSavedInPlaceOpensQuietly()
{
    QFETCH(int, left);
    QImage pixels(6, 5, QImage::Format_ARGB32_Premultiplied);
    pixels.fill(Qt::blue);
    ItemRecord first;
    first.id = 0;
    first.image = pixels;
    ItemRecord second = first;
    second.id = 1;
    second.image.fill(Qt::green);
    m_records = { first, second };
    const QString board = path("shrunk.vlk");
    QVERIFY(saveAndWait(board));
    m_records = m_records.mid(0, left);
    QVERIFY(saveAndWait());
    QCOMPARE(m_prompter.errors, QStringList());

    int items = 0;
    const QMetaObject::Connection counting = connect(m_loader, &BaseLoader::itemGenerated, this,
        [&items](const ItemRecord &, LoadJob *) { ++items; });
    m_document->clear();
    const bool loaded = loadAndWait(board);
    disconnect(counting);
    QVERIFY(loaded);
    QCOMPARE(m_prompter.questions, QStringList());
    QCOMPARE(m_prompter.errors, QStringList());
    QCOMPARE(m_document->currentPath(), board);
    QCOMPARE(items, left);
}

void tst_SceneDocument::writeFaultsKeepTheBoard_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<FileFaults::Operation>("operation");
    QTest::addColumn<bool>("diskFull");

    for (const char *way : { "save with backup", "quiet save", "autosave" }) {
        QTest::addRow("%s, every write", way)
            << QString::fromLatin1(way) << FileFaults::Operation::Write << false;
        QTest::addRow("%s, every sync", way)
            << QString::fromLatin1(way) << FileFaults::Operation::Sync << false;
        QTest::addRow("%s, disk full", way)
            << QString::fromLatin1(way) << FileFaults::Operation::Write << true;
    }
    // The only way that renames when nothing fails.
    QTest::addRow("quiet save, every rename")
        << QStringLiteral("quiet save") << FileFaults::Operation::Rename << false;
}

void tst_SceneDocument::writeFaultsKeepTheBoard()
{
    QFETCH(QString, way);
    QFETCH(FileFaults::Operation, operation);
    QFETCH(bool, diskFull);

    const QString autoSaveFolder = m_dir.filePath(QStringLiteral("autosave"));
    AutoSaveFile::setFolderForTesting(autoSaveFolder);
    // Unattended: the file changing between the tries must not ask anything.
    m_prompter.interactive = false;
    previousHandler = qInstallMessageHandler(keepWarnings);
    const QRectF oldBoard(0, 0, 100, 100);
    const QRectF newBoard(0, 0, 300, 200);
    ItemRecord picture;
    picture.id = 0;
    // Noise does not compress: the board takes several writes of the file's buffer.
    picture.image = noise(120, 90, 7);
    m_records = { picture };

    // The board as it was before the save, and the file that holds it.
    QString file;
    const auto prepare = [&] {
        m_prompter.errors.clear();
        m_board = oldBoard;
        if (way == QLatin1String("autosave")) {
            m_document->clear();
            m_document->autoSave();
            if (!waitUntilIdle() || !m_document->autoSaveFile())
                return false;
            file = m_document->autoSaveFile()->path();
        } else {
            file = path("board.vlk");
            if (!saveAndWait(file))
                return false;
        }
        m_board = newBoard;
        return m_prompter.errors.isEmpty();
    };
    const auto run = [&] {
        warnings().clear();
        if (way == QLatin1String("autosave"))
            m_document->autoSave();
        else if (way == QLatin1String("quiet save"))
            m_document->saveQuiet(file);
        else
            m_document->save();
        return waitUntilIdle();
    };
    const auto folderOf = [&] { return QFileInfo(file).absolutePath(); };
    const auto boardIn = [&](const QString &name) {
        m_loadedBoard = QRectF();
        m_document->clear();
        const bool loaded = loadAndWait(name);
        m_document->clear();
        return loaded ? m_loadedBoard : QRectF();
    };

    QVERIFY(prepare());
    FileFaults::countOnly(folderOf());
    QVERIFY(run());
    FileFaults::disarm();
    QVERIFY2(m_prompter.errors.isEmpty(), qPrintable(m_prompter.errors.join('\n')));
    const int operations = FileFaults::count(operation);
    const qint64 size = QFileInfo(file).size();
    QVERIFY(operations > 0);

    // Every write, rename or sync in turn; for a full disk, room for a part of the file.
    const int tries = diskFull ? 12 : operations;
    for (int n = 1; n <= tries; ++n) {
        QVERIFY(prepare());
        const QByteArray before = contents(file);
        const QStringList entries = QDir(folderOf()).entryList(QDir::Files | QDir::Hidden);
        m_prompter.errors.clear();
        m_prompter.questions.clear();
        const qint64 room = diskFull ? (n - 1) * size / (tries - 1) : 0;
        if (diskFull)
            FileFaults::fillDiskAfter(folderOf(), room);
        else
            FileFaults::failNth(folderOf(), operation, n, EIO);
        QVERIFY(run());
        FileFaults::disarm();
        const QString where = diskFull ? QStringLiteral("with room for %1 bytes").arg(room)
                                       : QStringLiteral("failing number %1").arg(n);
        if (!FileFaults::hasFailed()) {
            // The disk had room for the new board after all.
            QVERIFY2(diskFull, qPrintable(where));
            continue;
        }
        const QString told
            = (m_prompter.errors + m_prompter.questions + warnings()).join(QLatin1Char('\n'));
        const QString cause = QString::fromLocal8Bit(std::strerror(diskFull ? ENOSPC : EIO));
        // The folder's entries are synced once a new name is in place: the backup's before the
        // board is written, the new board's once it has replaced the old one. The save goes on,
        // and only the warning tells. The board is read from a copy: an autosave's own file goes
        // with the board that clearing discards.
        if (FileFaults::failedPath() == folderOf()) {
            const QString copy = path("saved copy.vlk");
            QVERIFY(QFile::copy(file, copy));
            QCOMPARE(boardIn(copy), newBoard);
            QVERIFY(QFile::remove(copy));
            QVERIFY2(told.contains(folderOf()) && told.contains(cause), qPrintable(told));
            continue;
        }
        QVERIFY2(told.contains(QFileInfo(file).fileName()) && told.contains(cause),
            qPrintable(where + QLatin1String(": ") + told));
        QVERIFY2(contents(file) == before, qPrintable(where));
        QCOMPARE(QDir(folderOf()).entryList(QDir::Files | QDir::Hidden), entries);
    }
}

QTEST_GUILESS_MAIN(tst_SceneDocument)
#include "tst_scenedocument.moc"
