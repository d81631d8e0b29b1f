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
class TillClocks;

/// The receipts beside the review player: in time order, each at its offset into the clip, with the one
/// whose time playback last passed marked as current, and the wall-clock time of any point of the clip.
/// It fetches them itself for a camera's window, as the export does, with the script the export burns in,
/// on the video's clock (each till's clock offset taken off); a receipt's till can be set right from the
/// frame that shows the receipt happen.
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
    /// The tills' clocks: TillClocks::shared() unless others are given. A change of an offset fetches the
    /// receipts of the last load() again.
    void setTillClocks(TillClocks *clocks);
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
    /// The receipt of row as the player's still records it: its time as the POS server wrote it, how far
    /// its till's clock was taken to be off, and its text.
    Q_INVOKABLE QVariantMap receipt(int row) const;
    /// The name of the till of row's receipt; empty when the server named none.
    Q_INVOKABLE QString tillOf(int row) const;
    /// The receipt of row happened at seconds into the clip: its till's clock offset becomes the time the
    /// till sent less that moment. What was set, in words; empty when the receipt names no till or the
    /// offset would be beyond what a till's clock may be off (then nothing changes).
    Q_INVOKABLE QString setTillClockHere(int row, double seconds);

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
    QPointer<TillClocks> m_clocks;
    Request::Latest m_fetch;
    /// The window and camera of the last load(), fetched again when an offset changes; none after rows
    /// were given.
    QDateTime m_loadFrom;
    QDateTime m_loadTo;
    QString m_loadCamera;
    QByteArray m_script;
    bool m_loading = false;
    QString m_errorText;
};
