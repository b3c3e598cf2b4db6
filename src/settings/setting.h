#pragma once

#include <QHash>
#include <QObject>
#include <QVariant>

// One persisted, typed value. Its key is the name, or "group/name" when it has a group. Several
// Setting objects may share a key; the SettingsHandler keeps them equal and writes the store.
//
// Owners that react to a stored value construct with the default constructor, connect to
// changed(), then call init(): a stored value that differs from the default then reaches them
// once. GUI thread only.
class Setting : public QObject {
    Q_OBJECT

public:
    using Attributes = QHash<QString, QVariant>;

    explicit Setting(QObject *parent = nullptr);
    Setting(const QString &name, const QVariant &defaultValue, const QString &group = QString(),
        const Attributes &attributes = Attributes(), QObject *parent = nullptr);
    ~Setting() override;

    // Names the setting and registers it with the handler, which loads the stored value.
    void init(const QString &name, const QVariant &defaultValue, const QString &group = QString(),
        const Attributes &attributes = Attributes());

    QString name() const { return m_name; }
    QString group() const { return m_group; }
    QString key() const { return m_key; }
    Attributes attributes() const { return m_attributes; }
    QVariant value() const { return m_value; }
    QVariant defaultValue() const { return m_defaultValue; }
    bool isDefault() const;

    // Changes every setting of this key and writes the store.
    void setValue(const QVariant &value);
    // Removes the stored value; every setting of this key returns to its own default.
    void reset();

    // Used by the handler. A value of another type than the current one is converted to the
    // current type; a value that does not convert is ignored.
    void assign(const QVariant &value);

signals:
    void changed(const QVariant &oldValue, const QVariant &newValue);

private:
    QString m_name;
    QString m_group;
    Attributes m_attributes;
    QString m_key;
    QVariant m_value;
    QVariant m_defaultValue;
};
