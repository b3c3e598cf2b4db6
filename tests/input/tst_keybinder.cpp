#include "input/action.h"
#include "input/actionbindingedit.h"
#include "input/actioncondition.h"
#include "input/actionhandler.h"
#include "input/actionnames.h"
#include "input/keybinder.h"
#include "input/keybinding.h"
#include "input/keyedit.h"
#include "settings/generalsettings.h"
#include "settings/settings.h"
#include "settings/settingshandler.h"
#include "settings/settingsupgrade.h"

#include <QtTest>

#include <memory>

namespace {

ActionBinding keys(const QKeySequence &sequence, Qt::MouseButtons buttons = Qt::NoButton,
    int type = ActionBinding::Triggered)
{
    return ActionBinding(type, sequence, buttons);
}

// What the user sees of a binding list: its display texts.
QStringList texts(const QList<ActionBinding> &bindings)
{
    QStringList result;
    for (const ActionBinding &binding : bindings)
        result.append(binding.displayText());
    return result;
}

} // namespace

// The binder against a real settings file in a temporary folder. A "restart" destroys the
// actions and the binder and builds them again from the same file.
class tst_KeyBinder : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void htmlPrintsEveryBindingEscaped();
    void editsSurviveRestart_data();
    void editsSurviveRestart();
    void unreadableStoredValueFallsBackToDefault_data();
    void unreadableStoredValueFallsBackToDefault();
    void restoreDefaultsClearsTheStore();
    void conflictWarnings_data();
    void conflictWarnings();
    void rebindingKeepsTheActionsConditions();
    void conditionsSeparateBindings();
    void unbindingOthers();
    void scrollFunctionalityUpgrade_data();
    void scrollFunctionalityUpgrade();
    void leftButtonAloneNeedsWarning_data();
    void leftButtonAloneNeedsWarning();
    void keyEditRecords_data();
    void keyEditRecords();
    void keyEditBlocksActionsWhileFocused();

private:
    Action *create(const QString &name, const ActionBinding &binding,
        const QString &category = QStringLiteral("Controls"), int flags = Action::ListedFlag);
    void restart();
    QStringList storedKeys() const;

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsHandler> m_settings;
    std::unique_ptr<QObject> m_owner;
    std::unique_ptr<KeyBinder> m_binder;
    // Registrations to replay after a restart: name, binding, category.
    struct Registration {
        QString name;
        ActionBinding binding;
        QString category;
    };
    QList<Registration> m_registrations;
    QList<QPair<QString, ActionBinding>> m_defaultAliases;
};

void tst_KeyBinder::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    m_settings = std::make_unique<SettingsHandler>(QStringLiteral("KeyBinderTest"));
}

void tst_KeyBinder::init()
{
    m_settings->store()->clear();
    m_owner = std::make_unique<QObject>();
    m_binder = std::make_unique<KeyBinder>();
    m_registrations.clear();
    m_defaultAliases.clear();
}

void tst_KeyBinder::cleanup()
{
    m_binder.reset();
    m_owner.reset();
    m_dir.setAutoRemove(!QTest::currentTestFailed());
}

Action *tst_KeyBinder::create(
    const QString &name, const ActionBinding &binding, const QString &category, int flags)
{
    m_registrations.append({ name, binding, category });
    return ActionHandler::instance()->createAction(
        name, name, m_owner.get(), binding, flags, category);
}

void tst_KeyBinder::restart()
{
    m_binder.reset();
    m_owner = std::make_unique<QObject>();
    m_binder = std::make_unique<KeyBinder>();
    for (const Registration &registration : qAsConst(m_registrations))
        ActionHandler::instance()->createAction(registration.name, registration.name, m_owner.get(),
            registration.binding, Action::ListedFlag, registration.category);
    for (const auto &alias : qAsConst(m_defaultAliases))
        m_binder->addDefaultAlias(alias.first, alias.second);
}

QStringList tst_KeyBinder::storedKeys() const
{
    QSettings *store = m_settings->store();
    store->beginGroup(QStringLiteral("Key_Bindings"));
    QStringList result = store->childKeys();
    store->endGroup();
    result.sort();
    return result;
}

void tst_KeyBinder::htmlPrintsEveryBindingEscaped()
{
    create(QStringLiteral("Scale"),
        keys(QKeySequence(int(Qt::CTRL | Qt::ALT)), Qt::LeftButton, ActionBinding::Continuous),
        QStringLiteral("Canvas"));
    create(QStringLiteral("Shrink <font>"), keys(QKeySequence(Qt::Key_Less)),
        QStringLiteral("Canvas & more"));
    create(QStringLiteral("Close"), keys(QKeySequence(Qt::CTRL | Qt::Key_X)),
        QStringLiteral("Canvas & more"));
    m_binder->addAlias(QStringLiteral("Close"), keys(QKeySequence(Qt::Key_Q)));

    const QString expected = QStringLiteral(
        "<!DOCTYPE html>\n<html>\n<body>\n<h3 id=\"keybindings-header\">Keybindings</h3>\n"
        "<div id=\"control-tables\">\n"
        "\t<div class=\"key-binding-table\">\n\t\t<h3>Canvas<br><br></h3>\n\t\t<table>\n"
        "\t\t\t<tr><td>Scale</td><td>Left MB  +  Ctrl+Alt</td></tr>\n"
        "\t\t</table>\n\t</div>\n"
        "\t<div class=\"key-binding-table\">\n\t\t<h3>Canvas &amp; more<br><br></h3>\n"
        "\t\t<table>\n"
        "\t\t\t<tr><td>Close</td><td>Ctrl+X</td></tr>\n"
        "\t\t\t<tr><td>Close</td><td>Q</td></tr>\n"
        "\t\t\t<tr><td>Shrink &lt;font&gt;</td><td>&lt;</td></tr>\n"
        "\t\t</table>\n\t</div>\n"
        "</div>\n</body>\n</html>\n");
    QCOMPARE(m_binder->toHtml(), expected);
}

void tst_KeyBinder::editsSurviveRestart_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QStringList>("after");

    // Every row starts from "Pan": Alt + left, with the default alias middle button.
    QTest::addRow("primary rebound")
        << "rebind 0" << QStringList { "Left MB  +  Ctrl+K", "Middle MB" };
    QTest::addRow("default 0 deleted") << "remove 0" << QStringList { "Middle MB" };
    QTest::addRow("default alias deleted") << "remove 1" << QStringList { "Left MB  +  Alt" };
    QTest::addRow("user alias added")
        << "add" << QStringList { "Left MB  +  Alt", "Middle MB", "Left MB  +  Ctrl+K" };
    QTest::addRow("removal renumbers later aliases")
        << "add, remove 1" << QStringList { "Left MB  +  Alt", "Left MB  +  Ctrl+K" };
}

void tst_KeyBinder::editsSurviveRestart()
{
    QFETCH(QString, edit);
    QFETCH(QStringList, after);

    const QString pan = QStringLiteral("Pan");
    create(pan, keys(QKeySequence(int(Qt::ALT)), Qt::LeftButton, ActionBinding::Continuous));
    const ActionBinding middle = keys(QKeySequence(), Qt::MiddleButton, ActionBinding::Continuous);
    m_defaultAliases.append({ pan, middle });
    m_binder->addDefaultAlias(pan, middle);
    KeyBinding *row = m_binder->row(pan);
    QVERIFY(row);

    const ActionBinding ctrlK
        = keys(QKeySequence(int(Qt::CTRL) | Qt::Key_K), Qt::LeftButton, ActionBinding::Continuous);
    if (edit == QLatin1String("rebind 0"))
        row->rebind(0, ctrlK);
    else if (edit == QLatin1String("remove 0"))
        QVERIFY(row->removeAlias(0));
    else if (edit == QLatin1String("remove 1"))
        QVERIFY(row->removeAlias(1));
    else if (edit == QLatin1String("add"))
        row->addAlias(ctrlK);
    else if (edit == QLatin1String("add, remove 1")) {
        row->addAlias(ctrlK);
        QVERIFY(row->removeAlias(1));
    }
    QCOMPARE(texts(row->action()->bindings()), after);

    restart();
    Action *action = ActionHandler::instance()->action(pan);
    QVERIFY(action);
    QCOMPARE(texts(action->bindings()), after);
    // No key of a binding that moved or went away is left behind.
    for (const QString &key : storedKeys()) {
        const bool isDeletedMarker = key.endsWith(QLatin1String("_Deleted"));
        const QString suffix = QString(key).remove(
            QRegularExpression(QStringLiteral("^Pan|(Context|Shortcut|Buttons)$")));
        if (!isDeletedMarker)
            QVERIFY2(suffix.isEmpty() || suffix.toInt() < after.size(), qPrintable(key));
    }
}

void tst_KeyBinder::unreadableStoredValueFallsBackToDefault_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QVariant>("value");

    QTest::addRow("context not a number") << "Context" << QVariant(QStringLiteral("abc"));
    QTest::addRow("context out of range") << "Context" << QVariant(9);
    QTest::addRow("unknown key name") << "Shortcut" << QVariant(QStringLiteral("Ctrl+Nonsense"));
    QTest::addRow("negative buttons") << "Buttons" << QVariant(-5);
}

void tst_KeyBinder::unreadableStoredValueFallsBackToDefault()
{
    QFETCH(QString, field);
    QFETCH(QVariant, value);

    QSettings *store = m_settings->store();
    store->setValue(QStringLiteral("Key_Bindings/Undo_StepContext"), 2);
    store->setValue(QStringLiteral("Key_Bindings/Undo_StepShortcut"), QStringLiteral("Ctrl+U"));
    store->setValue(QStringLiteral("Key_Bindings/Undo_StepButtons"), 0);
    store->setValue(QStringLiteral("Key_Bindings/Undo_Step") + field, value);

    Action *undo = create(QStringLiteral("Undo Step"), keys(QKeySequence(Qt::CTRL | Qt::Key_Z)));
    QCOMPARE(undo->bindingCount(), 1);
    QCOMPARE(undo->binding(0).keySequence, QKeySequence(Qt::CTRL | Qt::Key_Z));
    QCOMPARE(undo->binding(0).context, int(ActionBinding::WindowContext));
}

void tst_KeyBinder::restoreDefaultsClearsTheStore()
{
    Action *action = create(QStringLiteral("Focus"), keys(QKeySequence(Qt::Key_Space)));
    KeyBinding *row = m_binder->row(QStringLiteral("Focus"));
    row->addAlias(keys(QKeySequence(Qt::Key_F)));
    QVERIFY(row->removeAlias(0));
    QVERIFY(!storedKeys().isEmpty());

    m_binder->restoreAllDefaults();
    QCOMPARE(texts(action->bindings()), QStringList { "Space" });
    QCOMPARE(storedKeys(), QStringList());
}

void tst_KeyBinder::conflictWarnings_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QString>("message");

    QTest::addRow("default against default")
        << "defaults"
        << "KeyBinder: Binding 'Second' (Ctrl+E) conflicts with 'First'. Make sure no default "
           "bindings are conflicting to avoid undefined behavior.";
    QTest::addRow("loaded against existing")
        << "loaded"
        << "KeyBinder: Binding 'Second' (Ctrl+E) has loaded a conflicting binding, conflicts "
           "with 'First'. (Ctrl+E) Make sure no bindings are conflicting in the settings file "
           "to avoid undefined behavior.";
    QTest::addRow("alias onto a used binding")
        << "alias used"
        << "KeyBinder: Tried to add alias for 'Second' but 'Ctrl+E' was already bound to "
           "'First'.";
    QTest::addRow("alias for a missing action")
        << "alias missing"
        << "KeyBinder: Tried to add alias for 'Missing' which was not found.";
    QTest::addRow("default alias for a missing action")
        << "default alias missing"
        << "KeyBinder: Tried to default add alias for 'Missing' which was not found.";
    QTest::addRow("removing an alias of a missing action")
        << "remove missing"
        << "KeyBinder: Tried to remove alias for 'Missing' which was not found.";
    QTest::addRow("same name, other default")
        << "same name"
        << "KeyBinder: Binding 'First' was already added to the keybinder but with another "
           "default binding. Make sure separate actions don't use the same name.";
}

void tst_KeyBinder::conflictWarnings()
{
    QFETCH(QString, scenario);
    QFETCH(QString, message);

    const ActionBinding ctrlE = keys(QKeySequence(Qt::CTRL | Qt::Key_E));
    Action *first = create(QStringLiteral("First"), ctrlE);
    if (scenario == QLatin1String("loaded"))
        m_settings->store()->setValue(
            QStringLiteral("Key_Bindings/SecondShortcut"), QStringLiteral("Ctrl+E"));

    QTest::ignoreMessage(QtWarningMsg, qPrintable(message));
    if (scenario == QLatin1String("defaults"))
        create(QStringLiteral("Second"), ctrlE);
    else if (scenario == QLatin1String("loaded"))
        create(QStringLiteral("Second"), keys(QKeySequence(Qt::Key_S)));
    else if (scenario == QLatin1String("alias used")) {
        create(QStringLiteral("Second"), keys(QKeySequence(Qt::Key_S)));
        m_binder->addAlias(QStringLiteral("Second"), ctrlE);
        // The later alias stays in effect: which one fires is decided by registration order.
        QCOMPARE(m_binder->row(QStringLiteral("Second"))->bindings().size(), 2);
    } else if (scenario == QLatin1String("alias missing"))
        m_binder->addAlias(QStringLiteral("Missing"), ctrlE);
    else if (scenario == QLatin1String("default alias missing"))
        m_binder->addDefaultAlias(QStringLiteral("Missing"), ctrlE);
    else if (scenario == QLatin1String("remove missing"))
        m_binder->removeAlias(QStringLiteral("Missing"), ctrlE);
    else if (scenario == QLatin1String("same name")) {
        create(QStringLiteral("First"), keys(QKeySequence(Qt::Key_Y)));
        QCOMPARE(m_binder->row(QStringLiteral("First"))->action(), first);
        QCOMPARE(m_binder->toHtml().count(QStringLiteral("<td>First</td>")), 1);
    }
}

void tst_KeyBinder::rebindingKeepsTheActionsConditions()
{
    ActionCondition overlay;
    ActionBinding binding = keys(QKeySequence(Qt::Key_Space));
    binding.addCondition(&overlay, false);
    Action *action = create(QStringLiteral("Focus"), binding);
    KeyBinding *row = m_binder->row(QStringLiteral("Focus"));

    row->rebind(0, keys(QKeySequence(Qt::Key_G)));
    row->addAlias(keys(QKeySequence(Qt::Key_H)));
    for (int i = 0; i < 2; ++i) {
        QVERIFY(action->binding(i).hasCondition(&overlay));
        QCOMPARE(action->binding(i).expectedValue(&overlay), false);
        QVERIFY(
            action->binding(i).hasCondition(ActionHandler::instance()->immediateKeyCondition()));
    }
}

void tst_KeyBinder::conditionsSeparateBindings()
{
    ActionCondition locked;
    ActionBinding pan = keys(QKeySequence(), Qt::LeftButton, ActionBinding::Continuous);
    pan.addCondition(&locked, true);
    ActionBinding select = pan;
    select.addCondition(&locked, false);
    ActionBinding plain = keys(QKeySequence(), Qt::LeftButton, ActionBinding::Continuous);

    QVERIFY(!KeyBinder::bindingsCollide(pan, select));
    QVERIFY(KeyBinder::bindingsCollide(pan, plain));
    QVERIFY(!KeyBinder::bindingsCollide(keys(QKeySequence()), keys(QKeySequence())));
}

void tst_KeyBinder::unbindingOthers()
{
    create(QStringLiteral("Only"), keys(QKeySequence(Qt::CTRL | Qt::Key_K)));
    create(QStringLiteral("Several"), keys(QKeySequence(Qt::Key_W)));
    m_binder->row(QStringLiteral("Several"))->addAlias(keys(QKeySequence(Qt::CTRL | Qt::Key_K)));
    create(QStringLiteral("Taker"), keys(QKeySequence(Qt::Key_M)));

    const ActionBinding ctrlK = keys(QKeySequence(Qt::CTRL | Qt::Key_K));
    QCOMPARE(m_binder->actionsUsing(ctrlK, QStringLiteral("Taker")),
        (QStringList { "Only", "Several" }));
    m_binder->unbindFromOthers(ctrlK, QStringLiteral("Taker"));
    QCOMPARE(texts(m_binder->row(QStringLiteral("Only"))->bindings()), QStringList { "" });
    QCOMPARE(texts(m_binder->row(QStringLiteral("Several"))->bindings()), QStringList { "W" });
}

void tst_KeyBinder::scrollFunctionalityUpgrade_data()
{
    QTest::addColumn<int>("scrollFunctionality");
    QTest::addColumn<QStringList>("pan");
    QTest::addColumn<QStringList>("zoom");
    QTest::addColumn<QStringList>("remove");

    QTest::addRow("0: middle button deletes")
        << 0 << QStringList { "Left MB  +  Alt" } << QStringList { "Left MB  +  Z" }
        << QStringList { "Del", "Middle MB" };
    QTest::addRow("1: middle button pans, as by default")
        << 1 << QStringList { "Left MB  +  Alt", "Middle MB" } << QStringList { "Left MB  +  Z" }
        << QStringList { "Del" };
    QTest::addRow("2: middle button zooms")
        << 2 << QStringList { "Left MB  +  Alt" } << QStringList { "Left MB  +  Z", "Middle MB" }
        << QStringList { "Del" };
}

void tst_KeyBinder::scrollFunctionalityUpgrade()
{
    QFETCH(int, scrollFunctionality);
    QFETCH(QStringList, pan);
    QFETCH(QStringList, zoom);
    QFETCH(QStringList, remove);

    // A settings file of 1.7.0; the upgrade runs while the main window builds its settings,
    // before the view has registered any action.
    QSettings *store = m_settings->store();
    store->setValue(QStringLiteral("General_Settings/Version"), QStringLiteral("1.7.0"));
    store->setValue(QStringLiteral("General_Settings/ScrollFunctionality"), scrollFunctionality);
    {
        GeneralSettings settings;
        SettingsUpgrade::run(
            settings, [this](int value) { m_binder->upgradeScrollFunctionality(value); });
    }
    QVERIFY(!store->contains(QStringLiteral("General_Settings/ScrollFunctionality")));

    const QString panName = QLatin1String(ActionNames::Pan);
    create(panName, keys(QKeySequence(int(Qt::ALT)), Qt::LeftButton, ActionBinding::Continuous));
    create(QLatin1String(ActionNames::Zoom),
        keys(QKeySequence(Qt::Key_Z), Qt::LeftButton, ActionBinding::Continuous));
    create(QLatin1String(ActionNames::DeleteImages), keys(QKeySequence(QKeySequence::Delete)));
    const ActionBinding middle = keys(QKeySequence(), Qt::MiddleButton, ActionBinding::Continuous);
    m_defaultAliases.append({ panName, middle });
    m_binder->addDefaultAlias(panName, middle);

    for (int run = 0; run < 2; ++run) {
        const QString when = run == 0 ? QStringLiteral("upgrade") : QStringLiteral("restart");
        QVERIFY2(texts(m_binder->row(panName)->bindings()) == pan, qPrintable(when));
        QVERIFY2(texts(m_binder->row(QLatin1String(ActionNames::Zoom))->bindings()) == zoom,
            qPrintable(when));
        QVERIFY2(
            texts(m_binder->row(QLatin1String(ActionNames::DeleteImages))->bindings()) == remove,
            qPrintable(when));
        restart();
    }
    const ActionBinding deleteAlias
        = m_binder->row(QLatin1String(ActionNames::DeleteImages))->bindings().last();
    if (scrollFunctionality == 0)
        QCOMPARE(deleteAlias.type, int(ActionBinding::Triggered));
}

void tst_KeyBinder::leftButtonAloneNeedsWarning_data()
{
    QTest::addColumn<int>("buttons");
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<bool>("warn");

    QTest::addRow("left alone") << int(Qt::LeftButton) << QKeySequence() << true;
    QTest::addRow("left with a modifier")
        << int(Qt::LeftButton) << QKeySequence(int(Qt::ALT)) << false;
    QTest::addRow("left and right")
        << int(Qt::LeftButton | Qt::RightButton) << QKeySequence() << false;
}

void tst_KeyBinder::leftButtonAloneNeedsWarning()
{
    QFETCH(int, buttons);
    QFETCH(QKeySequence, keys);
    QFETCH(bool, warn);
    const ActionBinding binding(ActionBinding::Continuous, keys, Qt::MouseButtons(buttons));
    QCOMPARE(ActionBindingEdit::needsLeftButtonWarning(binding), warn);
}

void tst_KeyBinder::keyEditRecords_data()
{
    QTest::addColumn<QList<int>>("presses"); // key | modifiers, as the window system reports
    QTest::addColumn<QString>("recorded");

    // X11 reports a modifier's own press with the modifiers held before it.
    QTest::addRow("modifiers alone, for a mouse binding")
        << QList<int> { Qt::Key_Control, int(Qt::ControlModifier) | Qt::Key_Alt } << "Ctrl+Alt";
    QTest::addRow("key with modifier")
        << QList<int> { Qt::Key_Control, int(Qt::ControlModifier) | Qt::Key_K } << "Ctrl+K";
    QTest::addRow("tab is a key, not a focus move") << QList<int> { Qt::Key_Tab } << "Tab";
    QTest::addRow("later press replaces") << QList<int> { Qt::Key_A, Qt::Key_B } << "B";
}

void tst_KeyBinder::keyEditRecords()
{
    QFETCH(QList<int>, presses);
    QFETCH(QString, recorded);

    KeyEdit edit;
    QSignalSpy changes(&edit, &KeyEdit::keySequenceChanged);
    for (int press : presses) {
        QKeyEvent event(QEvent::KeyPress, press & ~int(Qt::KeyboardModifierMask),
            Qt::KeyboardModifiers(press & int(Qt::KeyboardModifierMask)));
        QCoreApplication::sendEvent(&edit, &event);
    }
    QCOMPARE(edit.text(), recorded);
    QCOMPARE(KeyEdit::sequenceText(edit.keySequence()), recorded);
    QVERIFY(!changes.isEmpty());
}

void tst_KeyBinder::keyEditBlocksActionsWhileFocused()
{
    QWidget window;
    auto *edit = new KeyEdit(&window);
    auto *other = new QLineEdit(&window);
    other->move(0, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    ActionHandler *handler = ActionHandler::instance();

    edit->setFocus();
    QTRY_VERIFY(handler->isBlocked());
    other->setFocus();
    QTRY_VERIFY(!handler->isBlocked());
    edit->setFocus();
    QTRY_VERIFY(handler->isBlocked());
    delete edit;
    QVERIFY(!handler->isBlocked());
}

QTEST_MAIN(tst_KeyBinder)
#include "tst_keybinder.moc"
