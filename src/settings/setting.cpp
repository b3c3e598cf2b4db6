#include "settings/setting.h"

#include "settings/settingshandler.h"
#include "settings/settingslog.h"

namespace {

// The INI store hands every value back as text, and the toolkit's conversions of text are lax:
// any text but "", "0" and "false" becomes true, and "99999999999" becomes a truncated int.
// Values edited by hand must not turn into something else, so text is parsed strictly.
bool convertTo(QVariant &value, int type)
{
    if (value.userType() != QMetaType::QString)
        return value.convert(type);

    const QString text = value.toString().trimmed();
    bool ok = false;
    switch (type) {
    case QMetaType::Bool:
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0
            || text == QLatin1String("1"))
            value = true;
        else if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0
            || text == QLatin1String("0"))
            value = false;
        else
            return false;
        return true;
    case QMetaType::Int:
        value = text.toInt(&ok);
        return ok;
    case QMetaType::LongLong:
        value = text.toLongLong(&ok);
        return ok;
    case QMetaType::Double:
        value = text.toDouble(&ok);
        return ok;
    default:
        return value.convert(type);
    }
}

} // namespace

Setting::Setting(QObject *parent)
    : QObject(parent)
{
}

Setting::Setting(const QString &name, const QVariant &defaultValue, const QString &group,
    const Attributes &attributes, QObject *parent)
    : QObject(parent)
{
    init(name, defaultValue, group, attributes);
}

Setting::~Setting()
{
    if (SettingsHandler *handler = SettingsHandler::instance())
        handler->unregisterSetting(this);
}

void Setting::init(const QString &name, const QVariant &defaultValue, const QString &group,
    const Attributes &attributes)
{
    m_name = name;
    m_group = group;
    m_attributes = attributes;
    m_key = group.isEmpty() ? name : group + QLatin1Char('/') + name;
    m_value = defaultValue;
    m_defaultValue = defaultValue;

    if (SettingsHandler *handler = SettingsHandler::instance())
        handler->registerSetting(this);
    else
        qCCritical(
            lcSettings, "SettingsHandler needs to be created before the creation of a Setting");
}

bool Setting::isDefault() const
{
    return m_value == m_defaultValue;
}

void Setting::setValue(const QVariant &value)
{
    if (SettingsHandler *handler = SettingsHandler::instance())
        handler->setValue(m_key, value);
    else
        assign(value);
}

void Setting::reset()
{
    if (SettingsHandler *handler = SettingsHandler::instance())
        handler->reset(m_key);
    else
        assign(m_defaultValue);
}

void Setting::assign(const QVariant &value)
{
    QVariant converted = value;
    // A setting with a default keeps its type. One without (a remembered place, a path) takes
    // whatever it is given: a value of the wrong type read from an edited file must not pin it,
    // or the setting could never be written again.
    if (m_defaultValue.isValid() && m_value.isValid() && converted.isValid()
        && converted.userType() != m_value.userType()
        && !convertTo(converted, m_value.userType())) {
        return;
    }
    if (converted == m_value && converted.isValid() == m_value.isValid())
        return;

    const QVariant oldValue = m_value;
    m_value = converted;
    emit changed(oldValue, m_value);
}
