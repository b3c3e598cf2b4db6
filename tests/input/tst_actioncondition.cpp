#include "input/action.h"
#include "input/actionhandler.h"
#include "input/compositeactioncondition.h"
#include "input/conflictingbindingscondition.h"

#include <QtTest>

#include <memory>

class tst_ActionCondition : public QObject {
    Q_OBJECT

private slots:
    void composite_data();
    void composite();
    void compositeForgetsDestroyedMembers();
    void conflictingBindingsRelevance_data();
    void conflictingBindingsRelevance();
};

void tst_ActionCondition::composite_data()
{
    QTest::addColumn<bool>("any");
    QTest::addColumn<QList<bool>>("values");
    QTest::addColumn<QList<bool>>("expected");
    QTest::addColumn<bool>("met");

    QTest::addRow("all: empty list") << false << QList<bool> {} << QList<bool> {} << true;
    QTest::addRow("any: empty list") << true << QList<bool> {} << QList<bool> {} << true;
    QTest::addRow("all: every member as expected")
        << false << QList<bool> { true, false } << QList<bool> { true, false } << true;
    QTest::addRow("all: one member otherwise")
        << false << QList<bool> { true, true } << QList<bool> { true, false } << false;
    QTest::addRow("any: one member as expected")
        << true << QList<bool> { false, true } << QList<bool> { true, true } << true;
    QTest::addRow("any: no member as expected")
        << true << QList<bool> { false, false } << QList<bool> { true, true } << false;
}

void tst_ActionCondition::composite()
{
    QFETCH(bool, any);
    QFETCH(QList<bool>, values);
    QFETCH(QList<bool>, expected);
    QFETCH(bool, met);

    CompositeActionCondition composite;
    composite.setAny(any);
    std::vector<std::unique_ptr<ActionCondition>> members;
    for (int i = 0; i < values.size(); ++i) {
        members.push_back(std::make_unique<ActionCondition>(values.at(i)));
        composite.addCondition(members.back().get(), expected.at(i));
    }
    QCOMPARE(composite.isMet(nullptr, 0), met);
}

void tst_ActionCondition::compositeForgetsDestroyedMembers()
{
    CompositeActionCondition composite;
    auto failing = std::make_unique<ActionCondition>(false);
    ActionCondition holding(true);
    composite.addCondition(failing.get(), true);
    composite.addCondition(&holding, true);
    QVERIFY(!composite.isMet(nullptr, 0));
    failing.reset();
    QVERIFY(composite.isMet(nullptr, 0));
}

void tst_ActionCondition::conflictingBindingsRelevance_data()
{
    QTest::addColumn<QString>("tested");
    QTest::addColumn<bool>("relevant");

    QTest::addRow("listed action") << "move" << true;
    QTest::addRow("unlisted action with an equal binding") << "select" << true;
    QTest::addRow("unlisted action with another binding") << "zoom" << false;
}

void tst_ActionCondition::conflictingBindingsRelevance()
{
    QFETCH(QString, tested);
    QFETCH(bool, relevant);

    QObject owner;
    ActionHandler *handler = ActionHandler::instance();
    const ActionBinding left(ActionBinding::Continuous, QKeySequence(), Qt::LeftButton);
    Action *move = handler->createAction(QStringLiteral("move"), QString(), &owner, left);
    handler->createAction(QStringLiteral("select"), QString(), &owner, left);
    handler->createAction(QStringLiteral("zoom"), QString(), &owner,
        ActionBinding(ActionBinding::Continuous, QKeySequence(Qt::Key_Z), Qt::LeftButton));

    ConflictingBindingsCondition condition;
    condition.addAction(move);
    QCOMPARE(condition.isRelevant(handler->action(tested), 0), relevant);
}

QTEST_MAIN(tst_ActionCondition)
#include "tst_actioncondition.moc"
