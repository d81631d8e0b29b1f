#pragma once
#include "core/common.h"
#include "export/exportpackage.h"
#include "export/merger.h"
#include "net/filedownload.h"
#include "pos/tillclocks.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>

class ExportWork;
class PosClient;
class QTemporaryDir;
class VmsClient;

/// The exports asked for in one action (one receipt, or many receipts and cameras), as the manifest names them.
struct ExportBatch {
    QString id;
    int size = 1;
    /// This export's place in the batch, from 1.
    int place = 1;
};

/// A clip the program has already fetched whole (the review player's), hashed as it arrived: an export
/// of the very same request may copy it instead of fetching it again.
struct FetchedClip {
    /// The request it was fetched with, as VmsClient::clipUrl() made it.
    QString request;
    QString path;
    /// Made as the bytes arrived.
    QString sha256;
    /// The certificate the bytes came through; empty over plain HTTP.
    QString fingerprint;
};

/// What one export is to make: the three minutes around a receipt, from one of its cameras, or a window
/// of a camera's recordings that no receipt is the middle of.
struct ExportOrder {
    /// The receipt chosen, on the video's clock (see onVideoClock); its time is the middle of the window.
    /// None for an explicit window.
    PosData receipt;
    /// The tills' clock offsets as they were when the export was asked for: the receipts of the window are
    /// those these put in it, at the times these give them.
    TillOffsets tillOffsets;
    /// An explicit window, when both are valid: the export covers it and has no chosen receipt.
    QDateTime windowStart;
    QDateTime windowEnd;
    StreamData camera;
    /// The video server's high-quality stream (hi=1) instead of its usual one (hi=0).
    bool highQuality = false;
    /// "DIR/NAME.mp4": the review copy; the other files of the package go beside it.
    QString videoPath;
    ExportBatch batch;
    /// Copied as the original when its request is the export's and the copy's digest checks out.
    FetchedClip fetched;

    bool hasExplicitWindow() const { return windowStart.isValid() && windowEnd.isValid(); }
};

/// The servers an export fetches from: the receipts from the POS server, the clip from the video
/// server. The exports of a queue share them, and with them the clients' network access.
struct ExportClients {
    /// Those of the connection settings.
    static ExportClients shared();

    VmsClient *vms = nullptr;
    PosClient *pos = nullptr;
};

/// One export from the receipts to the sealed evidence package. It owns everything it works with (its
/// window, camera, files, its POS window download, clip transfer and FFmpeg run, and its own copy of the
/// receipts script), so that nothing of one export can reach another; only the servers' clients are
/// shared. States: Waiting, then Receipts, Clip and Encoding, then one of Done, Failed and Cancelled; a
/// job that has ended stays as it is.
class ExportJob : public QObject
{
    Q_OBJECT
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY stateChanged)
    Q_PROPERTY(QString message READ message NOTIFY stateChanged)
    Q_PROPERTY(QString phase READ phase NOTIFY progressChanged)
    /// Of the window already encoded, 0 to 100; -1 before encoding starts.
    Q_PROPERTY(int percent READ percent NOTIFY progressChanged)
    Q_PROPERTY(QString frame READ frame NOTIFY progressChanged)
    Q_PROPERTY(QString videoPath READ videoPath CONSTANT)
    Q_PROPERTY(QString description READ description CONSTANT)
public:
    enum State { Waiting, Receipts, Clip, Encoding, Done, Failed, Cancelled };
    Q_ENUM(State)

    /// The window reaches this far to either side of the receipt.
    static constexpr qint64 kHalfWindowMs = 90000;

    /// The clients must outlive the job.
    ExportJob(const ExportOrder &order, const ExportClients &clients, QObject *parent = nullptr);
    /// A job still running is stopped and its partial files removed.
    ~ExportJob() override;

    /// Why an order cannot be exported, in words for the operator; empty when it can.
    static QString refusalFor(const ExportOrder &order);
    /// The review copy's encoding: fast enough for a 180 s 1080p window in about a minute on two cores,
    /// with the receipts still sharp.
    static QStringList encoderArguments();

    void start();
    /// Stops the transfer or FFmpeg, removes the files written so far and ends Cancelled; a job still
    /// waiting ends Cancelled without having done anything.
    Q_INVOKABLE void cancel();

    State state() const;
    bool isRunning() const;
    QString message() const;
    QString phase() const;
    int percent() const;
    QString frame() const;
    QString videoPath() const;
    /// The camera and the window, for naming the export to the operator.
    QString description() const;
    const ExportOrder &order() const;
    const PackagePaths &paths() const;
    QDateTime windowStart() const;
    QDateTime windowEnd() const;
    /// FFmpeg's arguments, once encoding has started.
    QStringList ffmpegArguments() const;

signals:
    void stateChanged();
    void progressChanged();
    /// Once, when the job has reached Done, Failed or Cancelled.
    void ended();

private:
    void onReceipts();
    void startClip();
    /// Fetches the clip from the video server into the original.
    void fetchClip();
    void onCopied();
    void startEncoding();
    void onFrame(const QString &frame);
    void onFfmpegError();
    void onFfmpegFinished();
    void seal();
    QJsonObject manifest(const QString &videoDigest) const;
    void setProgress(const QString &phase, int percent);
    /// Stops all work, removes the files this job wrote, and ends in state with the message.
    void end(State state, const QString &message);
    void startWork();
    void stopWork();
    /// Writes a file of the package and remembers it; a failure ends the job.
    bool writePackageFile(const QString &path, const QByteArray &bytes);

    ExportOrder m_order;
    PackagePaths m_paths;
    QDateTime m_from;
    QDateTime m_to;
    /// The servers as they were when the export started.
    QString m_posBase;
    QString m_vmsBase;
    QDateTime m_startedAt;

    ExportClients m_clients;
    /// The window download, the clip's transfer, FFmpeg and the hashing: only while the job runs.
    ExportWork *m_work = nullptr;
    /// FFmpeg's inputs besides the clip: the job's own script, the text track and the chapters.
    std::unique_ptr<QTemporaryDir> m_inputs;
    /// What FFmpeg said, kept for the manifest once its run has gone.
    QString m_ffmpegVersion;

    QList<PosData> m_records;
    QString m_clipUrl;
    QStringList m_arguments;
    QString m_scriptDigest;
    QString m_originalDigest;
    /// The certificates the receipts and the clip came through; empty over plain HTTP.
    QString m_posFingerprint;
    QString m_clipFingerprint;
    /// The original is a checked copy of order().fetched, not fetched by this job.
    bool m_originalCopied = false;
    /// Why a fetched clip offered was not used, for the manifest; empty when none was offered or it was used.
    QString m_copyRefusal;
    /// The package files this job has written (or had FFmpeg write), removed again unless it ends Done.
    QStringList m_written;

    State m_state = Waiting;
    QString m_message;
    QString m_phase;
    int m_percent = -1;
    QString m_frame = QStringLiteral("0");
};
