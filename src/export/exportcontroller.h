#pragma once
#include "export/exportjob.h"
#include "export/exportpackage.h"
#include "export/exportqueue.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <optional>

class TillClocks;

/// Where the pages start exports and check them again: one for the whole run, which QML reaches as the
/// singleton Exports. Every export, alone or one of many, becomes a job of the queue, which runs one at a
/// time. An export asked for alone while the queue is idle is followed: the window binds to it as job
/// (while it runs and after it ended) and hears jobEnded(); the others run in the background, and the
/// window hears how they went once the queue has emptied.
class ExportController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(ExportJob *job READ job NOTIFY jobChanged)
    Q_PROPERTY(ExportQueue *queue READ queue CONSTANT)
    /// Exports wait or run.
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(bool isVerifying READ isVerifying NOTIFY isVerifyingChanged)
    /// How far the export's window reaches either side of the receipt's time, in seconds.
    Q_PROPERTY(int halfWindowSecs READ halfWindowSecs CONSTANT)
public:
    /// The exports fetch from clients: those of the connection settings unless others are given.
    explicit ExportController(QObject *parent = nullptr, const ExportClients &clients = ExportClients::shared());

    /// The tills' clocks whose offsets the exports asked for from now on take: TillClocks::shared() unless
    /// others are given.
    void setTillClocks(TillClocks *clocks);

    ExportJob *job() const;
    ExportQueue *queue();
    bool isBusy() const;
    bool isVerifying() const;
    int halfWindowSecs() const;

    /// Queues the export of order into the file the operator chose, or refuses it (refused()) and
    /// returns false.
    bool start(const ExportOrder &order);
    /// The clip the review player has fetched whole: exports queued from now on whose request it is copy it
    /// rather than fetch it again. An empty one withdraws it.
    void offerFetchedClip(const FetchedClip &clip);
    /// Queues, as one batch into folder, the export of each receipt from each of cameras, or from
    /// each of its own cameras when there are none. Receipts that cannot be exported are left out
    /// and named in refused(). The number of exports queued.
    int startBatch(const QList<PosData> &receipts, const std::optional<QList<StreamData>> &cameras, bool highQuality,
        const QString &folder);

    /// The three minutes around the receipt at createdAt on the video's clock, from one camera, into the
    /// file the save dialog gave (a file URL or a path). tillClockOffsetMs: how far the receipt's till was
    /// taken to be off (see PosData), for the manifest.
    Q_INVOKABLE bool exportReceipt(const QDateTime &createdAt, const QString &content, const QString &cameraId,
        const QString &cameraName, bool highQuality, const QString &file, double tillClockOffsetMs = 0);
    /// A camera's recordings from from to to, a window that no receipt is the middle of, into the file
    /// the save dialog gave; the manifest has every receipt of the camera in it and none chosen.
    Q_INVOKABLE bool exportWindow(const QString &cameraId, const QString &cameraName, const QDateTime &from,
        const QDateTime &to, bool highQuality, const QString &file);
    /// The rows of a list of receipts (a ReceiptRows: the search results, the flagged receipts), each from
    /// its own cameras (ownCameras) or from each of cameras (maps with "strmId" and "strmName"), into folder
    /// (a URL or a path). See startBatch().
    Q_INVOKABLE int exportRows(QObject *results, const QVariantList &rows, bool ownCameras, const QVariantList &cameras,
        bool highQuality, const QString &folder);
    /// One receipt's window from each of cameras, into folder. See startBatch() and exportReceipt().
    Q_INVOKABLE int exportCameras(const QDateTime &createdAt, const QString &content, const QVariantList &cameras,
        bool highQuality, const QString &folder, double tillClockOffsetMs = 0);
    /// Cancels the export followed.
    Q_INVOKABLE void cancel();
    Q_INVOKABLE void cancelAll();
    /// Cancels what waits or runs and forgets every export of the session, for the next login.
    Q_INVOKABLE void forget();
    /// Asks the window to show the queue, from wherever the operator is.
    Q_INVOKABLE void showQueue();
    /// The videos exported in this run of the receipt received at createdAt with that text.
    Q_INVOKABLE QStringList exportsOf(const QDateTime &createdAt, const QString &content) const;
    /// The cameras of the rows of a list of receipts, one after the other (maps with "strmId" and "strmName").
    Q_INVOKABLE QVariantList camerasOf(QObject *results, const QVariantList &rows) const;
    /// Of the rows of a list of receipts, those whose receipt has been exported in this run.
    Q_INVOKABLE QVariantList exportedRows(QObject *results, const QVariantList &rows) const;
    /// Why a receipt cannot be exported (no camera, no valid time), in words for the operator; empty
    /// when it can.
    Q_INVOKABLE QString refusalFor(const QDateTime &createdAt, const QVariantList &streams) const;
    /// The file URL the save dialog first offers for an export, without the suffix it adds.
    Q_INVOKABLE QString suggestedFile(const QString &cameraName, const QDateTime &from, const QDateTime &to) const;
    /// The folder first offered for a batch: the user's Videos folder, else home.
    Q_INVOKABLE QString suggestedFolder() const;
    /// A folder's path as the URL a folder dialog takes.
    Q_INVOKABLE QString folderUrl(const QString &path) const;
    /// Checks the package of the chosen checksum file or manifest again; ends with verified().
    Q_INVOKABLE void verify(const QString &file);
    Q_INVOKABLE void openFolder(const QString &path) const;

signals:
    void jobChanged();
    void isBusyChanged();
    void isVerifyingChanged();
    void refused(const QString &message);
    /// The job followed has ended, as its state and message say.
    void jobEnded();
    /// Exports that nobody followed have ended and the queue is empty: how they went, in words.
    void backgroundEnded(const QString &summary);
    void verified(bool intact, const QString &report);
    void queueRequested();

private:
    void onJobEnded(ExportJob *job);
    TillOffsets tillOffsets() const;

    ExportQueue m_queue;
    QPointer<ExportJob> m_job;
    QPointer<TillClocks> m_clocks;
    FetchedClip m_fetched;
    /// How the exports that ended in the background since the queue was last empty went.
    int m_backgroundDone = 0;
    int m_backgroundCancelled = 0;
    QStringList m_backgroundFailures;
    PackageCheck m_check;
    bool m_verifying = false;
};
