#include "app/reviewsession.h"

#include "core/utils.h"
#include "export/exportcontroller.h"
#include "export/exportjob.h"
#include "export/exportpackage.h"
#include "net/posclient.h"
#include "net/vmsclient.h"
#include "player/playerreceipts.h"
#include "player/videoplayer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cmath>

ReviewSession::ReviewSession(QObject *parent)
    : QObject(parent)
    , m_vms(VmsClient::shared())
    , m_pos(PosClient::shared())
{
}

void ReviewSession::setClients(VmsClient *vms, PosClient *pos)
{
    m_vms = vms;
    m_pos = pos;
    if (m_player)
        m_player->setClient(vms);
    if (m_receipts)
        m_receipts->setClient(pos);
}

VideoPlayer *ReviewSession::player() const
{
    return m_player;
}

void ReviewSession::setPlayer(VideoPlayer *player)
{
    if (player == m_player)
        return;
    disconnect(m_playerConnection);
    m_player = player;
    if (player) {
        player->setClient(m_vms);
        m_playerConnection = connect(player, &VideoPlayer::clipCompleted, this, &ReviewSession::onClipCompleted);
    }
    emit partsChanged();
}

PlayerReceipts *ReviewSession::receipts() const
{
    return m_receipts;
}

void ReviewSession::setReceipts(PlayerReceipts *receipts)
{
    if (receipts == m_receipts)
        return;
    disconnect(m_receiptsConnection);
    m_receipts = receipts;
    if (receipts) {
        receipts->setClient(m_pos);
        m_receiptsConnection = connect(receipts, &PlayerReceipts::loaded, this, &ReviewSession::onReceiptsLoaded);
    }
    emit partsChanged();
}

ExportController *ReviewSession::exports() const
{
    return m_exports;
}

void ReviewSession::setExports(ExportController *exports)
{
    if (exports == m_exports)
        return;
    m_exports = exports;
    emit partsChanged();
}

ReviewSession::Source ReviewSession::source() const
{
    return m_source;
}

QString ReviewSession::title() const
{
    if (m_source == Nothing)
        return QString();
    // The operator's time, as the exports are named and described.
    return tr("%1, %2 to %3")
        .arg(m_camera.name, m_from.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            m_to.toLocalTime().toString(QStringLiteral("HH:mm:ss")));
}

QString ReviewSession::startNote() const
{
    return m_startNote;
}

bool ReviewSession::drawsReceipts() const
{
    return m_source == Receipt || m_source == Selection;
}

double ReviewSession::windowSeconds() const
{
    return m_from.isValid() && m_to.isValid() ? m_from.msecsTo(m_to) / 1000.0 : 0;
}

QString ReviewSession::request() const
{
    return m_request;
}

void ReviewSession::watchReceipt(const QDateTime &createdAt, const QString &content, const QString &cameraId,
    const QString &cameraName, bool highQuality, double tillClockOffsetMs)
{
    m_receipt = PosData();
    m_receipt.createdAt = createdAt;
    m_receipt.content = content;
    m_receipt.tillClockOffsetMs = std::llround(tillClockOffsetMs);
    // The export's very window, so that the clip fetched here is the one its export fetches.
    const QDateTime from = createdAt.addMSecs(-ExportJob::kHalfWindowMs);
    openWindow(Receipt, { cameraId, cameraName }, from, createdAt.addMSecs(ExportJob::kHalfWindowMs), highQuality,
        (ExportJob::kHalfWindowMs - kLeadInMs) / 1000.0);
    setSource(Receipt,
        tr("Starting %1 s before the receipt of %2")
            .arg(kLeadInMs / 1000)
            .arg(createdAt.toLocalTime().toString(QStringLiteral("HH:mm:ss"))));
}

void ReviewSession::playWindow(
    const QString &cameraId, const QString &cameraName, const QDateTime &from, const QDateTime &to)
{
    m_receipt = PosData();
    // The timeline downloads the high-quality stream; so the player fetches what "Download" would.
    openWindow(Selection, { cameraId, cameraName }, from, to, true, 0);
    setSource(Selection, tr("From the start of the selection"));
}

void ReviewSession::openWindow(Source source, const StreamData &camera, const QDateTime &from, const QDateTime &to,
    bool highQuality, double startSeconds)
{
    if (!m_player || !m_receipts || !m_vms)
        return;
    withdrawClip();
    m_source = source;
    m_camera = camera;
    m_from = from;
    m_to = to;
    m_highQuality = highQuality;
    m_request = m_vms->clipUrl(camera.id, from.toMSecsSinceEpoch(), from.secsTo(to), highQuality);
    // The receipts come with their script; until then the picture has none.
    m_player->setSubtitleScript({});
    m_receipts->load(from, to, camera.id);
    describeClip(m_request);
    m_player->open(m_request, startSeconds, false);
}

void ReviewSession::playExport(const QString &videoPath)
{
    if (!m_player || !m_receipts)
        return;
    withdrawClip();
    const PackagePaths paths = PackagePaths::forAnyFile(Utils::localPath(videoPath));
    QFile manifestFile(paths.manifest);
    const ManifestSummary manifest
        = readManifest(manifestFile.open(QIODevice::ReadOnly) ? manifestFile.readAll() : QByteArray());
    m_source = ExportedVideo;
    m_camera = manifest.camera;
    m_from = manifest.windowStart;
    m_to = manifest.windowEnd;
    m_highQuality = false;
    m_receipt = PosData();
    m_request = QUrl::fromLocalFile(QFileInfo(paths.video).absoluteFilePath()).toString();
    // Burnt in already: drawn again, they would stand twice in the picture.
    m_player->setSubtitleScript({});
    m_receipts->setReceipts(manifest.receipts, manifest.windowStart);
    describeClip(m_request);
    m_player->openFile(paths.video, 0, false);
    setSource(ExportedVideo, tr("The exported video, the receipts burnt in"));
}

void ReviewSession::close()
{
    if (m_receipts)
        m_receipts->cancel();
    if (m_player)
        m_player->close();
}

void ReviewSession::setSource(Source source, const QString &startNote)
{
    m_source = source;
    m_startNote = startNote;
    emit sourceChanged();
}

void ReviewSession::describeClip(const QString &request)
{
    m_player->setProperty("cameraId", m_camera.id);
    m_player->setProperty("cameraName", m_camera.name);
    m_player->setProperty("clipRequest", request);
    // The still's time; the pane binds the same start, from its receipts.
    m_player->setProperty("clipStart", m_from);
}

void ReviewSession::onClipCompleted()
{
    if (!m_exports || !m_player || !drawsReceipts())
        return;
    m_exports->offerFetchedClip(
        { m_request, m_player->clipPath(), m_player->clipSha256(), m_player->clipFingerprint() });
}

void ReviewSession::onReceiptsLoaded()
{
    if (m_player && drawsReceipts())
        m_player->setSubtitleScript(m_receipts->script());
}

void ReviewSession::withdrawClip()
{
    if (m_exports)
        m_exports->offerFetchedClip({});
}

QString ReviewSession::suggestedStillFile() const
{
    const double seconds = m_player ? m_player->framePts() : 0;
    const QDateTime at = m_from.addMSecs(qint64(std::llround(seconds * 1000))).toLocalTime();
    const QString name = QStringLiteral("%1-%2_%3.png")
                             .arg(safeFileName(m_camera.name), Utils::downloadStamp(at))
                             .arg(at.time().msec(), 3, 10, QLatin1Char('0'));
    return QUrl::fromLocalFile(QDir(suggestedVideoFolder()).filePath(name)).toString();
}

QVariantMap ReviewSession::watchedReceipt() const
{
    if (m_source != Receipt)
        return {};
    return { { QStringLiteral("createdAt"), m_receipt.createdAt }, { QStringLiteral("content"), m_receipt.content },
        { QStringLiteral("cameraId"), m_camera.id }, { QStringLiteral("cameraName"), m_camera.name },
        { QStringLiteral("highQuality"), m_highQuality },
        { QStringLiteral("tillClockOffsetMs"), double(m_receipt.tillClockOffsetMs) } };
}

QString ReviewSession::suggestedExportFile() const
{
    return QUrl::fromLocalFile(suggestedVideoPath(m_camera.name, m_from.toLocalTime(), m_to.toLocalTime())).toString();
}

bool ReviewSession::exportWindow(const QString &file)
{
    if (!m_exports || !drawsReceipts())
        return false;
    return m_exports->exportWindow(m_camera.id, m_camera.name, m_from, m_to, m_highQuality, file);
}
