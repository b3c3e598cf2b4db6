#include "input/actionhandler.h"
#include "ui/contextmenu.h"
#include "ui/contextmenuentry.h"
#include "ui/contextmenuhandler.h"

#include <QtTest>

#include <memory>

// Every test contributes through m_owner, the context of its connection to the handler and the
// parent of its actions; cleanup() deletes it and so cuts the connection.
class tst_ContextMenu : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void entryOrder_data();
    void entryOrder();
    void bindingColumn_data();
    void bindingColumn();
    void mouseRelease_data();
    void mouseRelease();
    void menuParent();

private:
    // Contributes the sections in order; "80 - window: A B" adds A alone, "A B" as one list.
    // A name starting with '~' is deleted once added, before the menu is built.
    void contribute(const QStringList &contributions);
    Action *action(const QString &label, const QKeySequence &keys)
    {
        return ActionHandler::instance()->createAction(QTest::currentDataTag() + label, label,
            m_owner.get(), ActionBinding(ActionBinding::Triggered, keys), Action::ListedFlag,
            "Test");
    }
    // Texts of the entries, separators as "|".
    static QString describe(const QList<QAction *> &entries)
    {
        QStringList texts;
        for (const QAction *entry : entries)
            texts.append(entry->isSeparator() ? "|" : entry->text());
        return texts.join(' ');
    }

    std::unique_ptr<QObject> m_owner = std::make_unique<QObject>();
};

void tst_ContextMenu::cleanup()
{
    ContextMenuHandler::instance()->menu()->hide();
    m_owner = std::make_unique<QObject>();
}

void tst_ContextMenu::contribute(const QStringList &contributions)
{
    connect(ContextMenuHandler::instance(), &ContextMenuHandler::contextMenuRequested,
        m_owner.get(), [this, contributions] {
            for (const QString &contribution : contributions) {
                QList<QAction *> actions;
                for (const QString &name : contribution.section(": ", 1).split(' '))
                    actions.append(new QAction(name, m_owner.get()));
                const QString section = contribution.section(": ", 0, 0);
                if (actions.size() == 1)
                    ContextMenuHandler::instance()->addAction(actions.first(), section);
                else
                    ContextMenuHandler::instance()->addActions(actions, section);
                for (QAction *action : qAsConst(actions)) {
                    if (action->text().startsWith('~'))
                        delete action;
                }
            }
        });
}

void tst_ContextMenu::entryOrder_data()
{
    QTest::addColumn<QStringList>("contributions");
    QTest::addColumn<QString>("entries");

    QTest::addRow("separate calls, the later first")
        << QStringList { "80 - window: Close", "80 - window: Minimize" } << "Minimize Close";
    QTest::addRow("a list keeps its order")
        << QStringList { "80 - window: Close Minimize Maximize" } << "Close Minimize Maximize";
    QTest::addRow("a later single before an earlier list")
        << QStringList { "80 - window: Close Minimize", "80 - window: Pin" }
        << "Pin Close Minimize";
    const QStringList sections { "99 - bottom: Quit", "80 - window: Close", "05 - first: Paste",
        "10 - settings: Settings" };
    QTest::addRow("sections by name, separators between")
        << sections << "Paste | Settings | Close | Quit";
    QTest::addRow("a section left empty by a deletion gets no separator")
        << QStringList { "05 - first: ~Gone", "80 - window: Close ~Lost", "99 - bottom: ~Away" }
        << "Close";
    QTest::addRow("nothing contributed") << QStringList() << "";
}

void tst_ContextMenu::entryOrder()
{
    QFETCH(QStringList, contributions);
    QFETCH(QString, entries);

    contribute(contributions);
    ContextMenuHandler *handler = ContextMenuHandler::instance();
    QCOMPARE(describe(handler->build(QPoint(10, 10))), entries);
    handler->showMenu(QPoint(10, 10));
    QCOMPARE(describe(handler->menu()->actions()), entries);
    QCOMPARE(handler->menu()->isVisible(), !entries.isEmpty());
}

void tst_ContextMenu::bindingColumn_data()
{
    QTest::addColumn<bool>("isAction");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<QString>("shown");

    const QKeySequence ctrlShiftA(Qt::CTRL | Qt::SHIFT | Qt::Key_A);
    QTest::addRow("action with a binding")
        << true << "Align" << ctrlShiftA << "Align\tCtrl+Shift+A";
    QTest::addRow("ampersand key shown literally")
        << true << "Join" << QKeySequence(Qt::CTRL | Qt::Key_Ampersand) << "Join\tCtrl+&&";
    QTest::addRow("action without a binding") << true << "Align" << QKeySequence() << "Align";
    QTest::addRow("plain action") << false << "Align" << ctrlShiftA << "Align";
}

void tst_ContextMenu::bindingColumn()
{
    QFETCH(bool, isAction);
    QFETCH(QString, label);
    QFETCH(QKeySequence, keys);
    QFETCH(QString, shown);

    QAction *real = isAction ? action(label, keys) : new QAction(label, m_owner.get());
    // Labels longer and shorter than this one share the column.
    const QString longLabel = "A much longer label than the others";
    const QKeySequence longKeys(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_Delete);
    Action *longer = action(longLabel, QKeySequence(Qt::Key_F5));
    Action *shorter = action("X", longKeys);
    connect(ContextMenuHandler::instance(), &ContextMenuHandler::contextMenuRequested,
        m_owner.get(), [=] {
            ContextMenuHandler::instance()->addActions({ shorter, real, longer }, "10 - tools");
        });
    ContextMenuHandler::instance()->showMenu(QPoint(10, 10));

    ContextMenu *menu = ContextMenuHandler::instance()->menu();
    const QList<QAction *> entries = menu->actions();
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries.at(1)->text(), shown);
    QCOMPARE(real->text(), label);
    // QMenu sizes the column after the tab by its widest text: the longest label and the widest
    // binding, though on different entries, both fit.
    const QString longBinding = longKeys.toString(QKeySequence::NativeText);
    QCOMPARE(entries.at(0)->text(), "X\t" + longBinding);
    QVERIFY(menu->width() > menu->fontMetrics().horizontalAdvance(longLabel)
            + menu->fontMetrics().horizontalAdvance(longBinding));

    // The entry stands for the action: it triggers it once and follows its state.
    QSignalSpy triggered(real, &QAction::triggered);
    entries.at(1)->trigger();
    QCOMPARE(triggered.count(), 1);
    real->setEnabled(false);
    QVERIFY(!entries.at(1)->isEnabled());
}

void tst_ContextMenu::mouseRelease_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("staysOpen");

    QTest::addRow("enabled entry triggers and closes") << "Align" << false;
    QTest::addRow("separator stays open") << "|" << true;
    QTest::addRow("disabled entry stays open") << "Disabled" << true;
    QTest::addRow("padding stays open") << "" << true;
}

void tst_ContextMenu::mouseRelease()
{
    QFETCH(QString, target);
    QFETCH(bool, staysOpen);

    Action *align = action("Align", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
    auto *disabled = new QAction("Disabled", m_owner.get());
    disabled->setEnabled(false);
    connect(ContextMenuHandler::instance(), &ContextMenuHandler::contextMenuRequested,
        m_owner.get(), [=] {
            ContextMenuHandler::instance()->addActions({ align, disabled }, "10 - tools");
            ContextMenuHandler::instance()->addAction(new QAction("Close", m_owner.get()), "80");
        });
    ContextMenuHandler *handler = ContextMenuHandler::instance();
    ContextMenu *menu = handler->menu();
    // Padding, as the program's style sheet gives the menu, is a place without an entry.
    menu->setStyleSheet("QMenu { padding: 8px; }");
    // QMenu closes on a release only once the mouse has moved away from where it opened.
    QCursor::setPos(0, 0);
    handler->showMenu(QPoint(100, 100));
    QVERIFY(QTest::qWaitForWindowExposed(menu));

    QPoint position(4, 4);
    const QList<QAction *> entries = menu->actions();
    for (QAction *entry : entries) {
        if ((entry->isSeparator() ? "|" : entry->text().section('\t', 0, 0)) == target)
            position = menu->actionGeometry(entry).center();
    }
    QCOMPARE(!menu->actionAt(position), target.isEmpty());

    QSignalSpy triggered(align, &QAction::triggered);
    QTest::mouseMove(menu, position);
    QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, position);
    QCOMPARE(menu->isVisible(), staysOpen);
    QCOMPARE(triggered.count(), staysOpen ? 0 : 1);
}

void tst_ContextMenu::menuParent()
{
    ContextMenuHandler *handler = ContextMenuHandler::instance();
    ContextMenu *menu = handler->menu();
    auto window = std::make_unique<QWidget>();
    handler->setMenuParent(window.get());
    QCOMPARE(handler->menu(), menu);
    QCOMPARE(menu->parentWidget(), window.get());
    QCOMPARE(menu->windowType(), Qt::Popup);
    QVERIFY(menu->windowFlags().testFlag(Qt::FramelessWindowHint));

    // The window takes the menu with it; the next one belongs to the handler.
    window.reset();
    QVERIFY(handler->menu());
    QCOMPARE(handler->menu()->parentWidget(), handler);
}

QTEST_MAIN(tst_ContextMenu)
#include "tst_contextmenu.moc"
