#include "core/i18n.h"

#include "core/property.h"

I18n::I18n(QObject *parent)
    : QObject(parent)
{
}

QString I18n::language() const
{
    return m_language;
}

void I18n::setLanguage(const QString &value)
{
    updateProperty(m_language, value, this, &I18n::languageChanged);
}

QString I18n::localeNotify() const
{
    return QString();
}
