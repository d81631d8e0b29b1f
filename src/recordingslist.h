#pragma once
#include <QAbstractListModel>
#include <QAuthenticator>
#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QString>
#include <QVariantMap>

/// One recorded period of a camera.
struct RecordingData {
    quint64 start = 0; ///< milliseconds since the epoch
    qint32 duration = 0; ///< milliseconds, at most 2147483647
};

/// The periods one camera recorded within a time window, for the timeline page.
class RecordingsList : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
public:
    enum Role { StartRole = Qt::UserRole + 1, DurationRole };

    explicit RecordingsList(QObject *parent = nullptr);

    int count() const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    /// An empty string for a role without a value or a row that does not exist (no size hint at all).
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    /// Replaces the rows from a "/ec2/recordedTimePeriods" body, or reports the server's refusal
    /// and keeps them.
    void parseRecordingData(const QByteArray &body);

public slots:
    /// The periods of camera id on the local calendar day date.
    void loadRecordingsOfDay(QString id, QDate date);
    void loadRecording(QString id, QDateTime start, QDateTime end);
    /// The row as a map from role name to value; an empty map for a row that does not exist.
    QVariantMap get(int index) const;

signals:
    void countChanged();
    void errorOccured(QString message);
    void loadingFinished();

private slots:
    void authenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator);

private:
    void onReplyFinished(QNetworkReply *reply, quint64 generation);

    QHash<int, QByteArray> m_roles;
    QList<RecordingData> m_rows;
    QNetworkAccessManager m_manager;
    /// Counts loadRecording calls: a reply that does not answer the latest one is dropped, so a
    /// slow answer for the previous camera or day never shows under the one now selected.
    quint64 m_generation = 0;
    QPointer<QNetworkReply> m_current;
};
