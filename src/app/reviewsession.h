#pragma once
#include "core/common.h"

#include <QDateTime>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

class ExportController;
class PlayerReceipts;
class PosClient;
class VideoPlayer;
class VmsClient;

/// What the review player shows and where it came from: the export's window of a receipt, the
/// timeline's selection, or a finished export's review copy. It opens the clip (fetched through the
/// video server's client), has the receipts of the window fetched beside it with the script the export
/// burns in, offers the clip to the exports of the same request once it has arrived whole, and names
/// the stills and the export of what is shown. The window has one, for its one player.
class ReviewSession : public QObject
{
    Q_OBJECT
    Q_PROPERTY(VideoPlayer *player READ player WRITE setPlayer NOTIFY partsChanged)
    Q_PROPERTY(PlayerReceipts *receipts READ receipts WRITE setReceipts NOTIFY partsChanged)
    /// Where "Export this" queues and the whole clip is offered.
    Q_PROPERTY(ExportController *exports READ exports WRITE setExports NOTIFY partsChanged)
    Q_PROPERTY(Source source READ source NOTIFY sourceChanged)
    /// The camera and the window, for the pane's title.
    Q_PROPERTY(QString title READ title NOTIFY sourceChanged)
    /// Where playback started, in words.
    Q_PROPERTY(QString startNote READ startNote NOTIFY sourceChanged)
    /// The player draws the receipts from their script; a review copy has them burnt in already.
    Q_PROPERTY(bool drawsReceipts READ drawsReceipts NOTIFY sourceChanged)
    /// The window's length, for the seek bar while the clip's own is not known yet.
    Q_PROPERTY(double windowSeconds READ windowSeconds NOTIFY sourceChanged)
public:
    enum Source { Nothing, Receipt, Selection, ExportedVideo };
    Q_ENUM(Source)

    /// How long before its receipt the watching of a receipt starts.
    static constexpr qint64 kLeadInMs = 5000;

    explicit ReviewSession(QObject *parent = nullptr);

    /// The servers: those of the connection settings unless others are given.
    void setClients(VmsClient *vms, PosClient *pos);

    VideoPlayer *player() const;
    void setPlayer(VideoPlayer *player);
    PlayerReceipts *receipts() const;
    void setReceipts(PlayerReceipts *receipts);
    ExportController *exports() const;
    void setExports(ExportController *exports);
    Source source() const;
    QString title() const;
    QString startNote() const;
    bool drawsReceipts() const;
    double windowSeconds() const;
    /// The clip request of what is shown (a file URL for a review copy).
    QString request() const;

    /// The export's window of the receipt at createdAt on the video's clock, from one camera in one quality,
    /// from kLeadInMs before the receipt. tillClockOffsetMs: how far its till was taken to be off.
    Q_INVOKABLE void watchReceipt(const QDateTime &createdAt, const QString &content, const QString &cameraId,
        const QString &cameraName, bool highQuality, double tillClockOffsetMs = 0);
    /// A camera's recordings from from to to (the timeline's selection), from the start, in the quality of
    /// the timeline's download.
    Q_INVOKABLE void playWindow(
        const QString &cameraId, const QString &cameraName, const QDateTime &from, const QDateTime &to);
    /// A finished export's review copy from disk (any file of its package will do), with the receipts of
    /// its manifest beside it; they are in the picture already.
    Q_INVOKABLE void playExport(const QString &videoPath);
    /// Stops the transfers and lets go of the decoder.
    Q_INVOKABLE void close();

    /// The file URL the save dialog first offers for a still of the frame shown: the camera and the
    /// frame's time, in the Videos folder.
    Q_INVOKABLE QString suggestedStillFile() const;
    /// The receipt watched, as the receipt's export takes it: "createdAt", "content", "cameraId",
    /// "cameraName", "highQuality" and "tillClockOffsetMs".
    Q_INVOKABLE QVariantMap watchedReceipt() const;
    /// The file URL the save dialog first offers for the export of the window shown.
    Q_INVOKABLE QString suggestedExportFile() const;
    /// Queues the export of the camera and window shown into file (a URL or a path).
    Q_INVOKABLE bool exportWindow(const QString &file);

signals:
    void partsChanged();
    void sourceChanged();

private:
    /// Shows the window from..to of camera, fetching its clip with request and its receipts, from
    /// startSeconds into the clip.
    void openWindow(Source source, const StreamData &camera, const QDateTime &from, const QDateTime &to,
        bool highQuality, double startSeconds);
    void setSource(Source source, const QString &startNote);
    /// Tells the player what a still records of the clip.
    void describeClip(const QString &request);
    void onClipCompleted();
    void onReceiptsLoaded();
    /// The clip offered to the exports goes: the player removes it when it opens another.
    void withdrawClip();

    QPointer<VmsClient> m_vms;
    QPointer<PosClient> m_pos;
    QPointer<VideoPlayer> m_player;
    QPointer<PlayerReceipts> m_receipts;
    QPointer<ExportController> m_exports;
    QMetaObject::Connection m_playerConnection;
    QMetaObject::Connection m_receiptsConnection;

    Source m_source = Nothing;
    QString m_startNote;
    StreamData m_camera;
    QDateTime m_from;
    QDateTime m_to;
    bool m_highQuality = false;
    PosData m_receipt;
    QString m_request;
};
