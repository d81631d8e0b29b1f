#pragma once
#include "exportjob.h"
#include "exportpackage.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>

/// Where the search page starts exports and checks them again. One export runs at a time: another is
/// refused while it runs, with words that name the running one. The page binds to job, the export
/// running or the last one that ended.
class ExportController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(ExportJob *job READ job NOTIFY jobChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(bool isVerifying READ isVerifying NOTIFY isVerifyingChanged)
public:
    explicit ExportController(QObject *parent = nullptr);

    ExportJob *job() const;
    bool isBusy() const;
    bool isVerifying() const;

    /// Starts the export of order, or refuses it (refused()) and returns false.
    bool start(const ExportOrder &order);

    /// The three minutes around the receipt received at createdAt, from one camera, into the file the
    /// save dialog gave (a file URL or a path).
    Q_INVOKABLE bool exportReceipt(const QDateTime &createdAt, const QString &content, const QString &cameraId,
        const QString &cameraName, bool highQuality, const QString &file);
    Q_INVOKABLE void cancel();
    /// The words refusing another export while one runs; empty when none runs.
    Q_INVOKABLE QString busyRefusal() const;
    /// Why a receipt cannot be exported (no camera, no valid time), in words for the operator; empty
    /// when it can.
    Q_INVOKABLE QString refusalFor(const QDateTime &createdAt, const QVariantList &streams) const;
    /// The file URL the save dialog first offers for an export, without the suffix it adds.
    Q_INVOKABLE QString suggestedFile(const QString &cameraName, const QDateTime &from, const QDateTime &to) const;
    /// Checks the package of the chosen checksum file or manifest again; ends with verified().
    Q_INVOKABLE void verify(const QString &file);
    Q_INVOKABLE void openFolder(const QString &path) const;

signals:
    void jobChanged();
    void isBusyChanged();
    void isVerifyingChanged();
    void refused(const QString &message);
    /// The job has ended, as its state and message say.
    void jobEnded();
    void verified(bool intact, const QString &report);

private:
    QPointer<ExportJob> m_job;
    PackageCheck m_check;
    bool m_verifying = false;
};
