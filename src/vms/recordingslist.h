#pragma once
#include "core/common.h"
#include "core/rowlistmodel.h"
#include "net/request.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QPointer>
#include <QString>

#include <functional>

class VmsClient;

/// The periods one camera recorded within a time window, for the timeline page.
class RecordingsList : public RowListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
public:
    enum Role { StartRole = Qt::UserRole + 1, DurationRole };
    /// Milliseconds since the epoch, now.
    using Clock = std::function<qint64()>;

    explicit RecordingsList(QObject *parent = nullptr);

    /// The video server asked: the one of the connection settings unless another is given.
    VmsClient *client() const;
    void setClient(VmsClient *client);
    int count() const;

    /// The clock that ends a period still being recorded; the local clock unless a test sets another.
    void setClock(Clock clock);

    /// Replaces the rows from a "/ec2/recordedTimePeriods" body, or reports the server's refusal
    /// and keeps them.
    void parseRecordingData(const QByteArray &body);

public slots:
    /// The periods of camera id on the local calendar day date.
    void loadRecordingsOfDay(QString id, QDate date);
    void loadRecording(QString id, QDateTime start, QDateTime end);

signals:
    void countChanged();
    void errorOccured(QString message);
    void loadingFinished();

protected:
    int size() const override;
    QVariant value(int row, int role) const override;

private:
    QList<RecordingData> m_rows;
    QPointer<VmsClient> m_client;
    /// Only the answer to the latest load counts: a slow answer for the previous camera or day never
    /// shows under the one now selected.
    Request::Latest m_latest;
    Clock m_clock;
};
