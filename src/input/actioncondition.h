#pragma once

#include <QObject>

class Action;

// A predicate that a binding can require. The base holds a boolean that its owner sets; derived
// conditions compute their answer from the action and the binding being tested. A condition may
// also declare itself irrelevant to a binding, which then ignores it. GUI thread only.
class ActionCondition : public QObject {
    Q_OBJECT

public:
    explicit ActionCondition(QObject *parent = nullptr);
    explicit ActionCondition(bool value, QObject *parent = nullptr);

    virtual bool isMet(const Action *action, int bindingIndex) const;
    virtual bool isRelevant(const Action *action, int bindingIndex) const;

    bool value() const { return m_value; }
    void setValue(bool value) { m_value = value; }

private:
    bool m_value = false;
};
