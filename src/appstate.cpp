#include "appstate.h"

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
    if (m_posBase == value)
        return;
    m_posBase = value;
    emit posBaseChanged();
}

void AppState::setBase(const QString &value)
{
    if (m_base == value)
        return;
    m_base = value;
    emit baseChanged();
}

void AppState::setUser(const QString &value)
{
    if (m_user == value)
        return;
    m_user = value;
    emit userChanged();
}

void AppState::setPassword(const QString &value)
{
    if (m_password == value)
        return;
    m_password = value;
    emit passwordChanged();
}

void AppState::setTimezoneOffsetMS(int value)
{
    if (m_timezoneOffsetMS == value)
        return;
    m_timezoneOffsetMS = value;
    emit timezoneOffsetMSChanged();
}

void AppState::setCurrentFile(QFile *file)
{
    m_currentFile = file;
}

void AppState::setCurrentFilePath(QString path)
{
    m_currentFilePath = std::move(path);
}
