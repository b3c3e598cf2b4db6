#include "input/actionbinding.h"
#include "input/actioncondition.h"

#include <QtTest>

class tst_ActionBinding : public QObject {
    Q_OBJECT

private slots:
    void displayText_data();
    void displayText();
    void sameBinding_data();
    void sameBinding();
    void destroyedConditionDropsOut();
    void addingConditionAgainReplacesExpectedValue();
    void displayOrder();
};

void tst_ActionBinding::displayText_data()
{
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<QString>("text");

    QTest::addRow("key only") << QKeySequence(Qt::CTRL | Qt::Key_Z) << 0 << "Ctrl+Z";
    QTest::addRow("button only") << QKeySequence() << int(Qt::MiddleButton) << "Middle MB";
    QTest::addRow("modifiers and left button, no trailing plus")
        << QKeySequence(int(Qt::CTRL | Qt::ALT)) << int(Qt::LeftButton) << "Left MB  +  Ctrl+Alt";
    QTest::addRow("key and button")
        << QKeySequence(Qt::Key_Z) << int(Qt::LeftButton) << "Left MB  +  Z";
    QTest::addRow("plus key keeps its plus")
        << QKeySequence(Qt::CTRL | Qt::Key_Plus) << 0 << "Ctrl++";
    QTest::addRow("buttons from lowest bit")
        << QKeySequence() << int(Qt::RightButton | Qt::LeftButton | Qt::BackButton)
        << "Left+Right+Back MB";
    QTest::addRow("highest extra button")
        << QKeySequence() << int(Qt::ExtraButton24) << "Extra 24 MB";
    QTest::addRow("empty") << QKeySequence() << 0 << "";
}

void tst_ActionBinding::displayText()
{
    QFETCH(QKeySequence, keys);
    QFETCH(int, buttons);
    QFETCH(QString, text);
    const ActionBinding binding(ActionBinding::Continuous, keys, Qt::MouseButtons(buttons));
    QCOMPARE(binding.displayText(), text);
}

void tst_ActionBinding::sameBinding_data()
{
    QTest::addColumn<bool>("otherContext");
    QTest::addColumn<bool>("otherConsumes");
    QTest::addColumn<int>("otherExpectation"); // -1: condition absent on the other side
    QTest::addColumn<bool>("same");
    QTest::addColumn<bool>("fullyEqual");

    QTest::addRow("identical") << false << false << 1 << true << true;
    QTest::addRow("context differs") << true << false << 1 << true << false;
    QTest::addRow("condition on one side only") << false << false << -1 << true << false;
    QTest::addRow("shared condition expects otherwise") << false << false << 0 << false << false;
    QTest::addRow("consumes input differs") << false << true << 1 << false << false;
}

void tst_ActionBinding::sameBinding()
{
    QFETCH(bool, otherContext);
    QFETCH(bool, otherConsumes);
    QFETCH(int, otherExpectation);
    QFETCH(bool, same);
    QFETCH(bool, fullyEqual);

    ActionCondition condition;
    ActionBinding binding(ActionBinding::Triggered, QKeySequence(Qt::Key_A));
    binding.addCondition(&condition, true);
    ActionBinding other(ActionBinding::Triggered, QKeySequence(Qt::Key_A), Qt::NoButton,
        otherContext ? ActionBinding::ApplicationContext : ActionBinding::WindowContext);
    other.consumesInput = otherConsumes;
    if (otherExpectation >= 0)
        other.addCondition(&condition, otherExpectation == 1);

    QCOMPARE(binding.isSameBinding(other), same);
    QCOMPARE(other.isSameBinding(binding), same);
    QCOMPARE(binding == other, fullyEqual);
}

void tst_ActionBinding::destroyedConditionDropsOut()
{
    auto *first = new ActionCondition;
    ActionCondition second;
    ActionBinding binding(ActionBinding::Triggered, QKeySequence(Qt::Key_A));
    binding.addCondition(first, true);
    binding.addCondition(&second, false);
    const ActionBinding copy = binding;

    delete first;

    QCOMPARE(binding.conditions(), QList<ActionCondition *> { &second });
    QCOMPARE(binding.expectedValues(), QList<bool> { false });
    QCOMPARE(copy.conditions(), QList<ActionCondition *> { &second });
    QCOMPARE(copy.expectedValues(), QList<bool> { false });
}

void tst_ActionBinding::addingConditionAgainReplacesExpectedValue()
{
    ActionCondition condition;
    ActionBinding binding;
    binding.addCondition(&condition, true);
    binding.addCondition(&condition, false);
    QCOMPARE(binding.conditions().size(), 1);
    QCOMPARE(binding.expectedValue(&condition), false);
}

void tst_ActionBinding::displayOrder()
{
    ActionBinding consumingA(ActionBinding::Continuous, QKeySequence(Qt::Key_A));
    consumingA.consumesInput = true;
    const ActionBinding plainB(ActionBinding::Continuous, QKeySequence(Qt::Key_B));
    const ActionBinding plainBLeft(
        ActionBinding::Continuous, QKeySequence(Qt::Key_B), Qt::LeftButton);
    QList<ActionBinding> bindings { consumingA, plainBLeft, plainB };
    std::sort(bindings.begin(), bindings.end());
    QCOMPARE(bindings.at(0).mouseButtons, Qt::NoButton);
    QCOMPARE(bindings.at(1).mouseButtons, Qt::LeftButton);
    QVERIFY(bindings.at(2).consumesInput);
}

QTEST_MAIN(tst_ActionBinding)
#include "tst_actionbinding.moc"
