#pragma once
#include "core/common.h"
#include "core/rowlistmodel.h"
#include "net/request.h"

#include <QDate>
#include <QList>
#include <QPointer>
#include <QString>
#include <QVariantList>
#include <QVector>

class PosClient;

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

/// The receipts one camera saw on one local day, oldest first, for the marks on the timeline. The
/// POS server being down never stops the timeline: the failure is said once, in `status`.
class ReceiptMarks : public RowListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
public:
    enum Role {
        TimeRole = Qt::UserRole + 1,
        CreatedAtRole,
        ContentRole,
        PreviewRole,
        StreamsRole,
    };

    explicit ReceiptMarks(QObject *parent = nullptr);

    /// The POS server asked: the one of the connection settings unless another is given.
    PosClient *client() const;
    void setClient(PosClient *client);
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
    /// clusterMarks() for QML: one map per group, with "x", "row" and "count".
    QVariantList clusters(double viewStartMs, double msPerPixel, double widthPx, double minGapPx) const;

signals:
    void countChanged();
    void isLoadingChanged();
    void statusChanged();

protected:
    int size() const override;
    QVariant value(int row, int role) const override;

private:
    void setIsLoading(bool value);
    void setStatus(const QString &value);
    /// Puts records in the place of the marks, oldest first.
    void setRows(QList<PosData> records);

    QList<PosData> m_rows;
    QVector<qint64> m_times;
    QPointer<PosClient> m_client;
    Request::Latest m_latest;
    QString m_status;
    bool m_isLoading = false;
};
