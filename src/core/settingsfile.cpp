#include "core/settingsfile.h"

#include <QSettings>

QSettings &settingsFile()
{
    // The same file on every platform, rather than the registry on Windows: one file an administrator
    // can copy from one till's computer to the next.
    static QSettings *settings = new QSettings(
        QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tillmark"), QStringLiteral("Tillmark"));
    return *settings;
}
