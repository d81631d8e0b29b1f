#pragma once
#include <QObject>
#include <QString>

#include <optional>

class QFile;
class QSettings;

/// Connection settings shared by every request, and the file of the running clip download.
class AppState : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString posBase READ posBase WRITE setPosBase NOTIFY posBaseChanged)
    Q_PROPERTY(QString base READ base WRITE setBase NOTIFY baseChanged)
    Q_PROPERTY(QString user READ user WRITE setUser NOTIFY userChanged)
    Q_PROPERTY(QString password READ password WRITE setPassword NOTIFY passwordChanged)
    Q_PROPERTY(int timezoneOffsetMS READ timezoneOffsetMS NOTIFY timezoneOffsetMSChanged)
public:
    explicit AppState(QObject *parent = nullptr);
    ~AppState() override;

    /// The first AppState constructed while none was registered; later ones do not replace it. Null
    /// once that one is gone, until the next one is constructed.
    static AppState *get();

    QString posBase() const;
    QString base() const;
    QString user() const;
    QString password() const;
    int timezoneOffsetMS() const;
    /// How far the video server's clock was ahead of this machine's when it was last asked (after the
    /// login), in milliseconds; unknown when the server did not say.
    std::optional<qint64> vmsClockOffsetMs() const;
    QFile *currentFile() const;
    QString currentFilePath() const;

    void setPosBase(const QString &value);
    void setBase(const QString &value);
    void setUser(const QString &value);
    void setPassword(const QString &value);
    void setTimezoneOffsetMS(int value);
    void setVmsClockOffsetMs(std::optional<qint64> value);
    /// Not owned: the clip download opens and destroys the file.
    void setCurrentFile(QFile *file);
    void setCurrentFilePath(QString path);

    /// The two servers (with their schemes) and the user name as the last login saved them, where it did;
    /// the password is never saved.
    void loadConnection(QSettings &file);
    void saveConnection(QSettings &file) const;
    /// saveConnection() into the program's settings file, for the login page once a login has worked.
    Q_INVOKABLE void rememberConnection() const;

signals:
    void posBaseChanged();
    void baseChanged();
    void userChanged();
    void passwordChanged();
    void timezoneOffsetMSChanged();

private:
    static AppState *s_inst;

    QString m_posBase;
    QString m_base;
    QString m_user = QStringLiteral("admin");
    QString m_password = QStringLiteral("Pelmo4826");
    QFile *m_currentFile = nullptr;
    QString m_currentFilePath;
    int m_timezoneOffsetMS = 0;
    std::optional<qint64> m_vmsClockOffsetMs;
};
