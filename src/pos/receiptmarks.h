#pragma once
#include "core/common.h"
#include "core/rowlistmodel.h"
#include "net/request.h"
#include "pos/receiptflagger.h"

#include <QDate>
#include <QList>
#include <QPointer>
#include <QString>
#include <QVariantList>
#include <QVector>

class PosClient;
class TillClocks;

/// Marks that lie within a few pixels of each other, drawn as one: the first of them and how many.
struct MarkCluster {
    double x = 0; ///< pixels from the left edge of the view, of the first mark
    int first = 0; ///< row of the first mark
    int count = 0;
};

/// Groups marks (times in milliseconds since the epoch, ascending) for a view that starts at
/// viewStartMs and shows msPerPixel per pixel over widthPx pixels: a mark joins the group of the
/// mark before it while it lies less than minGapPx to the right of that group's first mark. Marks
/// outside the view are left out.
QVector<MarkCluster> clusterMarks(
    const QVector<qint64> &timesMs, double viewStartMs, double msPerPixel, double widthPx, double minGapPx);

/// The receipts one camera saw on one local day, oldest first, for the marks on the timeline: on the
/// video's clock (each till's clock offset taken off), and with the exception rules that flag each. The
/// POS server being down never stops the timeline: the failure is said once, in `status`.
class ReceiptMarks : public RowListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    /// What says why a receipt stands out; none: no mark does.
    Q_PROPERTY(ReceiptFlagger *flagger READ flagger WRITE setFlagger NOTIFY flaggerChanged)
public:
    enum Role {
        TimeRole = Qt::UserRole + 1,
        CreatedAtRole,
        ContentRole,
        PreviewRole,
        StreamsRole,
        FlagsRole, ///< the names of the rules that flag it
        TillClockOffsetRole, ///< of PosData
    };

    explicit ReceiptMarks(QObject *parent = nullptr);

    /// The POS server asked: the one of the connection settings unless another is given.
    PosClient *client() const;
    void setClient(PosClient *client);
    /// The tills' clocks: TillClocks::shared() unless others are given. A change of an offset loads the
    /// day again.
    void setTillClocks(TillClocks *clocks);
    ReceiptFlagger *flagger() const;
    void setFlagger(ReceiptFlagger *flagger);
    int count() const;
    bool isLoading() const;
    /// Empty while the marks are those of the chosen camera and day; otherwise why they are missing.
    QString status() const;

    /// Replaces the marks with the receipts of a POS reply that list cameraId and lie on date.
    void setMarksFromBody(const QByteArray &body, const QString &cameraId, const QDate &date);

public slots:
    /// Asks the POS server for the receipts of date (local day) and keeps those of cameraId. A
    /// load still running is dropped.
    void loadDay(const QString &cameraId, const QDate &date);
    void clear();
    /// clusterMarks() for QML: one map per group, with "x", "row", "count" and "flagged" (how many of
    /// its receipts a rule flags).
    QVariantList clusters(double viewStartMs, double msPerPixel, double widthPx, double minGapPx) const;

signals:
    void countChanged();
    void isLoadingChanged();
    void statusChanged();
    void flaggerChanged();

protected:
    int size() const override;
    QVariant value(int row, int role) const override;

private:
    void setIsLoading(bool value);
    void setStatus(const QString &value);
    /// Puts records in the place of the marks, oldest first.
    void setRows(QList<PosData> records);
    void updateFlags();

    QList<PosData> m_rows;
    QVector<QStringList> m_flags;
    QVector<qint64> m_times;
    QPointer<PosClient> m_client;
    QPointer<TillClocks> m_clocks;
    QPointer<ReceiptFlagger> m_flagger;
    /// The camera and day asked for last.
    QString m_cameraId;
    QDate m_date;
    Request::Latest m_latest;
    QString m_status;
    bool m_isLoading = false;
};
