#include "i18n.h"

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
    if (m_language == value)
        return;
    m_language = value;
    emit languageChanged();
}

QString I18n::localeNotify() const
{
    return QString();
}
