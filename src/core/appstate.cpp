#include "core/appstate.h"

#include "core/property.h"
#include "core/settingsfile.h"

#include <QSettings>

namespace {

const char *const kPosKey = "connection/pos";
const char *const kVmsKey = "connection/vms";
const char *const kUserKey = "connection/user";

} // namespace

AppState *AppState::s_inst = nullptr;

AppState::AppState(QObject *parent)
    : QObject(parent)
    , m_posBase(QStringLiteral("http://localhost:8000"))
    , m_base(QStringLiteral("http://localhost:7001"))
{
    if (!s_inst)
        s_inst = this;
}

AppState::~AppState()
{
    if (s_inst == this)
        s_inst = nullptr;
}

AppState *AppState::get()
{
    return s_inst;
}

QString AppState::posBase() const
{
    return m_posBase;
}

QString AppState::base() const
{
    return m_base;
}

QString AppState::user() const
{
    return m_user;
}

QString AppState::password() const
{
    return m_password;
}

int AppState::timezoneOffsetMS() const
{
    return m_timezoneOffsetMS;
}

std::optional<qint64> AppState::vmsClockOffsetMs() const
{
    return m_vmsClockOffsetMs;
}

void AppState::setVmsClockOffsetMs(std::optional<qint64> value)
{
    m_vmsClockOffsetMs = value;
}

QFile *AppState::currentFile() const
{
    return m_currentFile;
}

QString AppState::currentFilePath() const
{
    return m_currentFilePath;
}

void AppState::setPosBase(const QString &value)
{
    updateProperty(m_posBase, value, this, &AppState::posBaseChanged);
}

void AppState::setBase(const QString &value)
{
    updateProperty(m_base, value, this, &AppState::baseChanged);
}

void AppState::setUser(const QString &value)
{
    updateProperty(m_user, value, this, &AppState::userChanged);
}

void AppState::setPassword(const QString &value)
{
    updateProperty(m_password, value, this, &AppState::passwordChanged);
}

void AppState::setTimezoneOffsetMS(int value)
{
    updateProperty(m_timezoneOffsetMS, value, this, &AppState::timezoneOffsetMSChanged);
}

void AppState::setCurrentFile(QFile *file)
{
    m_currentFile = file;
}

void AppState::setCurrentFilePath(QString path)
{
    m_currentFilePath = std::move(path);
}

void AppState::loadConnection(QSettings &file)
{
    setPosBase(file.value(QLatin1String(kPosKey), m_posBase).toString());
    setBase(file.value(QLatin1String(kVmsKey), m_base).toString());
    setUser(file.value(QLatin1String(kUserKey), m_user).toString());
}

void AppState::saveConnection(QSettings &file) const
{
    file.setValue(QLatin1String(kPosKey), m_posBase);
    file.setValue(QLatin1String(kVmsKey), m_base);
    file.setValue(QLatin1String(kUserKey), m_user);
    file.sync();
}

void AppState::rememberConnection() const
{
    saveConnection(settingsFile());
}
