#pragma once
#include "core/common.h"
#include "core/rowlistmodel.h"
#include "net/request.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPointer>
#include <QString>
#include <QVariantList>

class PosClient;

/// The receipts beside the review player: in time order, each at its offset into the clip, with the one
/// whose time playback last passed marked as current, and the wall-clock time of any point of the clip.
/// It fetches them itself for a camera's window, as the export does, with the script the export burns in.
class PlayerReceipts : public RowListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    /// Where playback is, in seconds into the clip; the page binds it to the player's frame time.
    Q_PROPERTY(double position READ position WRITE setPosition NOTIFY positionChanged)
    /// The row of the receipt whose time playback last passed; -1 before the first.
    Q_PROPERTY(int current READ current NOTIFY currentChanged)
    /// The clip's first instant; the wall-clock times are given in its time zone or offset.
    Q_PROPERTY(QDateTime clipStart READ clipStart NOTIFY countChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY statusChanged)
    /// Why the receipts could not be fetched, in words; empty while nothing is wrong.
    Q_PROPERTY(QString errorText READ errorText NOTIFY statusChanged)
public:
    enum Role {
        OffsetRole = Qt::UserRole + 1,
        TimeTextRole,
        ContentRole,
        PreviewRole,
    };

    /// How far before a receipt a jump to it lands, so that the moment leading up to it is seen.
    static constexpr double kLeadSeconds = 2.0;

    explicit PlayerReceipts(QObject *parent = nullptr);

    /// The POS server asked by load(): the one of the connection settings unless another is given.
    void setClient(PosClient *client);
    /// Fetches the receipts that cameraId saw in the window from from to to, for a clip that starts at
    /// from: the export's request, read as the export reads it. Until they are in, there are none. Only
    /// the answer to the last load() is taken; ends with loaded() or failed().
    void load(const QDateTime &from, const QDateTime &to, const QString &cameraId);
    /// Drops the fetch in flight: nothing of it arrives any more.
    void cancel();
    /// The receipts script of the rows load() fetched, the very bytes the export burns in; empty for
    /// rows given otherwise.
    QByteArray script() const;
    bool isLoading() const;
    QString errorText() const;

    /// The receipts of the clip that starts at clipStart, in any order, in the place of any fetched.
    void setReceipts(const QList<PosData> &records, const QDateTime &clipStart);
    /// The receipts' seconds into the clip, in time order.
    QList<double> offsets() const;

    int count() const;
    double position() const;
    void setPosition(double seconds);
    int current() const;
    QDateTime clipStart() const;

    /// setReceipts() for the pages: maps with "posContent" and "posCreatedAt", as the search's rows.
    Q_INVOKABLE void setRows(const QVariantList &rows, const QDateTime &clipStart);
    /// Where a jump to the receipt of row lands: kLeadSeconds before it, never before the clip.
    Q_INVOKABLE double seekTarget(int row) const;
    /// The row of the receipt a jump forward (Page Down) or back (Page Up) from seconds lands on; -1
    /// where there is none.
    Q_INVOKABLE int nextRow(double seconds) const;
    Q_INVOKABLE int previousRow(double seconds) const;
    /// The camera's date and time at seconds into the clip, to a tenth of a second.
    Q_INVOKABLE QString wallTime(double seconds) const;
    /// The receipt of row as the player's still records it: its time and text.
    Q_INVOKABLE QVariantMap receipt(int row) const;

signals:
    void countChanged();
    void positionChanged();
    void currentChanged();
    void statusChanged();
    /// The receipts of the last load() and their script are in.
    void loaded();
    void failed(const QString &message);

protected:
    int size() const override;
    QVariant value(int row, int role) const override;

private:
    void showReceipts(const QList<PosData> &records, const QDateTime &clipStart);
    void updateCurrent();
    void setStatus(bool loading, const QString &error);

    struct Row {
        double offset = 0;
        PosData record;
    };
    QList<Row> m_rows;
    QDateTime m_clipStart;
    double m_position = 0;
    int m_current = -1;

    QPointer<PosClient> m_client;
    Request::Latest m_fetch;
    QByteArray m_script;
    bool m_loading = false;
    QString m_errorText;
};
