#include "export/exportjob.h"

#include "core/sha256.h"
#include "net/posclient.h"
#include "net/vmsclient.h"
#include "pos/posdownloader.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>

namespace {

/// Local time with its offset written out, so that the text alone fixes the instant.
QString localText(const QDateTime &at)
{
    const QDateTime local = at.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString withoutUserInfo(const QString &url)
{
    return QUrl(url, QUrl::TolerantMode).adjusted(QUrl::RemoveUserInfo).toString();
}

QJsonObject transport(const QString &base, const QString &fingerprint)
{
    QJsonObject said { { "scheme", QUrl(base, QUrl::TolerantMode).scheme() } };
    if (!fingerprint.isEmpty())
        said.insert("certificateSha256", fingerprint);
    return said;
}

QString megabytes(qint64 bytes)
{
    return QString::number(bytes / 1e6, 'f', 1);
}

} // namespace

/// What a running job works with, made when it starts: the parts of an export.
class ExportWork : public QObject
{
public:
    using QObject::QObject;

    PosDownloader receipts { this };
    FileDownload download { this };
    Merger merger { this };
    FileHasher hasher { this };
    /// Copies and checks a clip fetched already.
    FileHasher copier { this };
};

ExportClients ExportClients::shared()
{
    return { VmsClient::shared(), PosClient::shared() };
}

ExportJob::ExportJob(const ExportOrder &order, const ExportClients &clients, QObject *parent)
    : QObject(parent)
    , m_order(order)
    , m_paths(PackagePaths::forVideo(order.videoPath))
    , m_from(order.hasExplicitWindow() ? order.windowStart : order.receipt.createdAt.addMSecs(-kHalfWindowMs))
    , m_to(order.hasExplicitWindow() ? order.windowEnd : order.receipt.createdAt.addMSecs(kHalfWindowMs))
    , m_clients(clients)
{
}

ExportJob::~ExportJob()
{
    if (isRunning()) {
        stopWork();
        for (const QString &file : qAsConst(m_written))
            QFile::remove(file);
    }
}

QString ExportJob::refusalFor(const ExportOrder &order)
{
    if (order.hasExplicitWindow()) {
        if (order.camera.id.isEmpty())
            return tr("No camera is chosen, so there is no video to export.");
        if (order.windowStart.msecsTo(order.windowEnd) < 1000)
            return tr("The window to export is empty.");
        return QString();
    }
    if (order.camera.id.isEmpty())
        return tr("This receipt names no camera, so there is no video to export.");
    if (!order.receipt.createdAt.isValid())
        return tr("This receipt has no valid time, so there is no window to export.");
    return QString();
}

QStringList ExportJob::encoderArguments()
{
    // Measured on 180 s of noisy 1080p on two cores: x264's default "medium" needs 2.6 times the processor
    // time of "veryfast" with its cheapest motion search, whose file is no larger and whose receipts are
    // as sharp; "superfast" is no faster but writes twice the bytes. The README has the figures.
    return { QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("veryfast"),
        QStringLiteral("-x264-params"), QStringLiteral("subme=1:me=dia"), QStringLiteral("-crf"),
        QStringLiteral("23") };
}

void ExportJob::start()
{
    if (m_state != Waiting)
        return;
    m_startedAt = QDateTime::currentDateTime();
    const QString refusal = refusalFor(m_order);
    if (!refusal.isEmpty()) {
        end(Failed, refusal);
        return;
    }
    // Said now rather than after minutes of download.
    if (QStandardPaths::findExecutable(Merger::programName()).isEmpty()) {
        end(Failed,
            tr("FFmpeg could not be started: is it installed and on PATH? (%1)").arg(int(QProcess::FailedToStart)));
        return;
    }
    m_posBase = m_clients.pos->base();
    m_vmsBase = m_clients.vms->base();
    startWork();
    m_state = Receipts;
    emit stateChanged();
    setProgress(tr("Fetching the receipts of the window from the POS server"), -1);
    m_work->receipts.download(m_from, m_to, m_order.camera.id, m_order.tillOffsets);
}

void ExportJob::startWork()
{
    m_work = new ExportWork(this);
    m_work->receipts.setClient(m_clients.pos);
    connect(&m_work->receipts, &PosDownloader::posDownloaded, this, &ExportJob::onReceipts);
    connect(&m_work->receipts, &PosDownloader::errorOccured, this, [this](const QString &message) {
        // The script that could not be written says so itself; anything else is the POS server's failure.
        end(Failed,
            m_work->receipts.lastFailureWasWrite() ? message
                                                   : tr("The receipts could not be fetched: %1").arg(message));
    });
    connect(&m_work->merger, &Merger::started, this, [] { qDebug() << "FFmpeg started"; });
    connect(&m_work->merger, &Merger::frameProcessed, this, &ExportJob::onFrame);
    connect(&m_work->merger, &Merger::errorOccured, this, &ExportJob::onFfmpegError);
    connect(&m_work->merger, &Merger::finished, this, &ExportJob::onFfmpegFinished);
    connect(&m_work->download, &FileDownload::progress, this, [this](qint64 received, qint64 total) {
        setProgress(total > 0
                ? tr("Fetching the clip from the video server: %1 of %2 MB").arg(megabytes(received), megabytes(total))
                : tr("Fetching the clip from the video server: %1 MB").arg(megabytes(received)),
            -1);
    });
    connect(&m_work->download, &FileDownload::succeeded, this, [this] {
        m_originalDigest = m_work->download.sha256();
        m_clipFingerprint = m_work->download.peerFingerprint();
        startEncoding();
    });
    connect(&m_work->download, &FileDownload::failed, this,
        [this](const QString &message) { end(Failed, tr("The clip could not be fetched: %1").arg(message)); });
    connect(&m_work->hasher, &FileHasher::finished, this, [this] {
        if (m_state == Encoding)
            seal();
    });
    connect(&m_work->copier, &FileHasher::finished, this, &ExportJob::onCopied);
}

void ExportJob::cancel()
{
    if (isRunning() || m_state == Waiting)
        end(Cancelled, tr("Export cancelled"));
}

ExportJob::State ExportJob::state() const
{
    return m_state;
}

bool ExportJob::isRunning() const
{
    return m_state == Receipts || m_state == Clip || m_state == Encoding;
}

QString ExportJob::message() const
{
    return m_message;
}

QString ExportJob::phase() const
{
    return m_phase;
}

int ExportJob::percent() const
{
    return m_percent;
}

QString ExportJob::frame() const
{
    return m_frame;
}

QString ExportJob::videoPath() const
{
    return QDir::toNativeSeparators(QFileInfo(m_paths.video).absoluteFilePath());
}

QString ExportJob::description() const
{
    const QDateTime from = m_from.toLocalTime();
    return tr("%1, %2 to %3")
        .arg(m_order.camera.name, from.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
            m_to.toLocalTime().toString(QStringLiteral("HH:mm:ss")));
}

const ExportOrder &ExportJob::order() const
{
    return m_order;
}

const PackagePaths &ExportJob::paths() const
{
    return m_paths;
}

QDateTime ExportJob::windowStart() const
{
    return m_from;
}

QDateTime ExportJob::windowEnd() const
{
    return m_to;
}

QStringList ExportJob::ffmpegArguments() const
{
    return m_arguments;
}

void ExportJob::onReceipts()
{
    if (m_state != Receipts)
        return;
    m_records = m_work->receipts.records();
    m_posFingerprint = m_work->receipts.peerFingerprint();
    const QByteArray script = m_work->receipts.script();
    m_scriptDigest = Sha256::ofBytes(script);
    // The package keeps the script; FFmpeg draws this job's own copy, in a folder no other export writes.
    m_inputs = std::make_unique<QTemporaryDir>();
    const QString ownScript = m_inputs->filePath(QStringLiteral("sub.ass"));
    const QString failure = m_inputs->isValid() ? writeWholeFile(ownScript, script) : m_inputs->errorString();
    if (!failure.isEmpty()) {
        end(Failed, tr("Can't write FFmpeg's input \"%1\": %2").arg(ownScript, failure));
        return;
    }
    if (writePackageFile(m_paths.script, script))
        startClip();
}

void ExportJob::startClip()
{
    m_state = Clip;
    emit stateChanged();
    setProgress(tr("Fetching the clip from the video server"), -1);
    m_clipUrl = m_clients.vms->clipUrl(
        m_order.camera.id, m_from.toMSecsSinceEpoch(), m_from.secsTo(m_to), m_order.highQuality);
    qDebug() << "Clip" << m_clipUrl;
    const FetchedClip &fetched = m_order.fetched;
    if (fetched.path.isEmpty() || fetched.sha256.isEmpty() || fetched.request != m_clipUrl) {
        fetchClip();
        return;
    }
    setProgress(tr("Copying the clip the player fetched"), -1);
    m_written << m_paths.original;
    m_work->copier.startCopy(fetched.path, m_paths.original);
}

void ExportJob::onCopied()
{
    if (m_state != Clip)
        return;
    const QString digest = m_work->copier.digests().value(m_paths.original);
    // Only a copy that holds exactly the bytes hashed as they arrived stands in for a fetch.
    if (!digest.isEmpty() && digest == m_order.fetched.sha256) {
        m_originalDigest = digest;
        m_clipFingerprint = m_order.fetched.fingerprint;
        m_originalCopied = true;
        startEncoding();
        return;
    }
    m_copyRefusal = digest.isEmpty()
        ? tr("the copy of the clip the player fetched failed: %1").arg(m_work->copier.copyError())
        : tr("the copy of the clip the player fetched did not match its digest");
    qWarning().noquote() << "Fetching the clip again:" << m_copyRefusal;
    fetchClip();
}

void ExportJob::fetchClip()
{
    m_work->download.setHashing(true);
    if (!m_work->download.start(*m_clients.vms, m_clipUrl, m_paths.original)) {
        end(Failed,
            tr("Can't write \"%1\": %2").arg(QDir::toNativeSeparators(m_paths.original), m_work->download.openError()));
        return;
    }
    if (!m_written.contains(m_paths.original))
        m_written << m_paths.original;
}

void ExportJob::startEncoding()
{
    if (m_state != Clip)
        return;
    m_state = Encoding;
    emit stateChanged();
    setProgress(tr("Encoding the review copy with the receipts burnt in"), 0);

    // The text track and the chapters are FFmpeg's inputs only; they are gone with the job.
    const qint64 lengthMs = m_from.msecsTo(m_to);
    const QString track = m_inputs->filePath(QStringLiteral("receipts.srt"));
    const QString chapters = m_inputs->filePath(QStringLiteral("chapters.txt"));
    for (const auto &input : { qMakePair(track, receiptsTrack(m_from, lengthMs, m_records)),
             qMakePair(chapters, receiptChapters(m_from, lengthMs, m_records)) }) {
        const QString failure = writeWholeFile(input.first, input.second);
        if (!failure.isEmpty()) {
            end(Failed, tr("Can't write FFmpeg's input \"%1\": %2").arg(input.first, failure));
            return;
        }
    }

    // The clip is read from disk, so the account stays off the command line. FFmpeg runs in the folder of
    // its inputs: the script is named there without a path, which the filter's own syntax would have to
    // escape (a Windows drive's colon, for one).
    const auto absolute = [](const QString &path) { return QFileInfo(path).absoluteFilePath(); };
    m_arguments = QStringList { QStringLiteral("-nostdin"), QStringLiteral("-y"), QStringLiteral("-i"),
        absolute(m_paths.original), QStringLiteral("-f"), QStringLiteral("srt"), QStringLiteral("-i"), track,
        QStringLiteral("-f"), QStringLiteral("ffmetadata"), QStringLiteral("-i"), chapters, QStringLiteral("-map"),
        QStringLiteral("0:v:0"), QStringLiteral("-map"), QStringLiteral("0:a?"), QStringLiteral("-map"),
        QStringLiteral("1:0"), QStringLiteral("-map_chapters"), QStringLiteral("2"), QStringLiteral("-vf"),
        QStringLiteral("ass=sub.ass") }
        + encoderArguments()
        + QStringList { QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-c:s"),
              QStringLiteral("mov_text"), QStringLiteral("-metadata:s:s:0"), QStringLiteral("title=Receipts"),
              absolute(m_paths.video) };

    m_written << m_paths.video;
    qDebug() << "FFmpeg" << m_arguments;
    m_work->merger.messages().setSecrets({ m_clients.vms->password() });
    m_work->merger.run(m_arguments, m_inputs->path(), QIODevice::ReadOnly);
}

void ExportJob::onFrame(const QString &frame)
{
    m_frame = frame;
    // Counted in frames of the clip: FFmpeg's "time=" runs ahead with the receipts track, whose entries
    // it writes as soon as it has read them.
    const FfmpegMessages &messages = m_work->merger.messages();
    const std::optional<double> rate = messages.frameRate();
    const double seconds = messages.inputSeconds().value_or(m_from.secsTo(m_to));
    if (rate && seconds > 0)
        m_percent = int(std::clamp(frame.toDouble() / (*rate * seconds) * 100, 0.0, 100.0));
    emit progressChanged();
}

void ExportJob::onFfmpegError()
{
    if (m_state != Encoding)
        return;
    const std::optional<QProcess::ProcessError> error = m_work->merger.processError();
    // A crash is said once the process is gone (finished() follows); an exit code other than 0 there too.
    if (!error || *error == QProcess::Crashed)
        return;
    if (*error == QProcess::FailedToStart)
        end(Failed, tr("FFmpeg could not be started: is it installed and on PATH? (%1)").arg(int(*error)));
    else
        end(Failed, tr("FFmpeg failed: %1 (%2)").arg(m_work->merger.processErrorText()).arg(int(*error)));
}

void ExportJob::onFfmpegFinished()
{
    const Merger &merger = m_work->merger;
    qDebug() << "FFmpeg finished:" << (merger.exitStatus() == QProcess::NormalExit ? merger.exitCode() : -1);
    if (m_state != Encoding)
        return;
    m_ffmpegVersion = m_work->merger.messages().versionLine();
    if (merger.exitStatus() != QProcess::NormalExit) {
        end(Failed, tr("FFmpeg crashed or was killed (%1); the video is incomplete.").arg(int(QProcess::Crashed)));
        return;
    }
    if (merger.exitCode() != 0) {
        end(Failed, merger.exitText());
        return;
    }
    if (QFileInfo(m_paths.video).size() <= 0) {
        end(Failed, tr("FFmpeg ended without writing \"%1\".").arg(QDir::toNativeSeparators(m_paths.video)));
        return;
    }
    m_percent = 100;
    setProgress(tr("Writing the checksums and the manifest"), 100);
    m_work->hasher.start({ m_paths.video });
}

void ExportJob::seal()
{
    const QString videoDigest = m_work->hasher.digests().value(m_paths.video);
    if (videoDigest.isEmpty()) {
        end(Failed, tr("The video could not be read back for its checksum."));
        return;
    }
    const QByteArray manifestBytes = QJsonDocument(manifest(videoDigest)).toJson(QJsonDocument::Indented);
    if (!writePackageFile(m_paths.manifest, manifestBytes))
        return;
    QByteArray sums;
    const QString digests[] = { m_originalDigest, videoDigest, m_scriptDigest, Sha256::ofBytes(manifestBytes) };
    const QStringList files = m_paths.covered();
    for (int i = 0; i < files.size(); ++i)
        sums += checksumLine(digests[i], QFileInfo(files.at(i)).fileName());
    if (!writePackageFile(m_paths.checksums, sums))
        return;
    end(Done, tr("Export finished: %1").arg(videoPath()));
}

QJsonObject ExportJob::manifest(const QString &videoDigest) const
{
    const auto camerasOf = [](const QList<StreamData> &streams) {
        QJsonArray cameras;
        for (const StreamData &stream : streams)
            cameras.append(QJsonObject { { "id", stream.id }, { "name", stream.name } });
        return cameras;
    };
    QJsonArray receipts;
    for (const PosData &record : m_records) {
        // The time as the POS server wrote it, and how far its till's clock was taken to be off.
        receipts.append(QJsonObject { { "receivedAt", record.receivedAtText },
            { "tillClockOffsetMs", double(record.tillClockOffsetMs) }, { "cameras", camerasOf(record.streams) },
            { "text", record.content } });
    }
    const std::optional<qint64> clockOffset = m_clients.vms->clockOffsetMs();
    const PosData &chosen = m_order.receipt;
    const auto file = [](const QString &role, const QString &path, const QString &digest) {
        return QJsonObject { { "role", role }, { "name", QFileInfo(path).fileName() }, { "sha256", digest } };
    };
    return QJsonObject {
        { "program", QJsonObject { { "name", "Tillmark" }, { "version", TILLMARK_VERSION } } },
        { "ffmpeg",
            QJsonObject { { "version", m_ffmpegVersion }, { "arguments", QJsonArray::fromStringList(m_arguments) } } },
        { "servers", QJsonObject { { "vms", withoutUserInfo(m_vmsBase) }, { "pos", withoutUserInfo(m_posBase) } } },
        // How the data crossed the network: for HTTPS, the certificate it came through.
        { "transport",
            QJsonObject { { "vms", transport(m_vmsBase, m_clipFingerprint) },
                { "pos", transport(m_posBase, m_posFingerprint) } } },
        { "camera", QJsonObject { { "id", m_order.camera.id }, { "name", m_order.camera.name } } },
        { "window",
            QJsonObject { { "startUtc", m_from.toUTC().toString(Qt::ISODateWithMs) },
                { "endUtc", m_to.toUTC().toString(Qt::ISODateWithMs) }, { "startLocal", localText(m_from) },
                { "endLocal", localText(m_to) }, { "lengthSeconds", m_from.secsTo(m_to) } } },
        { "clocks",
            QJsonObject { { "vmsTimeZoneOffsetMs", m_clients.vms->timezoneOffsetMs() },
                { "vmsClockOffsetMs", clockOffset ? QJsonValue(double(*clockOffset)) : QJsonValue() },
                { "localClockAtExport", localText(m_startedAt) } } },
        { "chosenReceipt",
            m_order.hasExplicitWindow()
                ? QJsonValue()
                : QJsonObject { { "receivedAt",
                                    chosen.createdAt.addMSecs(chosen.tillClockOffsetMs).toString(Qt::ISODateWithMs) },
                    { "tillClockOffsetMs", double(chosen.tillClockOffsetMs) }, { "text", chosen.content } } },
        { "receipts", receipts },
        { "batch",
            QJsonObject {
                { "id", m_order.batch.id }, { "size", m_order.batch.size }, { "place", m_order.batch.place } } },
        { "clipRequest", withoutUserInfo(m_clipUrl) },
        { "originalSource",
            m_originalCopied
                ? QJsonObject { { "kind", "player" },
                    { "text",
                        "copied from the review player's transfer of the same request, hashed as it arrived; "
                        "the copy's digest was checked against it" } }
                : QJsonObject { { "kind", "server" }, { "text", "fetched from the video server by this export" },
                    { "playerClipNotUsed", m_copyRefusal.isEmpty() ? QJsonValue() : QJsonValue(m_copyRefusal) } } },
        { "quality",
            QJsonObject { { "stream", m_order.highQuality ? "hi=1" : "hi=0" },
                { "name", m_order.highQuality ? "high" : "standard" } } },
        { "encoder", QJsonArray::fromStringList(encoderArguments()) },
        { "files",
            QJsonArray { file("original clip as the video server sent it", m_paths.original, m_originalDigest),
                file("review copy", m_paths.video, videoDigest),
                file("receipts script burnt into the review copy", m_paths.script, m_scriptDigest) } },
    };
}

void ExportJob::setProgress(const QString &phase, int percent)
{
    if (m_phase == phase && m_percent == percent)
        return;
    m_phase = phase;
    m_percent = percent;
    emit progressChanged();
}

void ExportJob::end(State state, const QString &message)
{
    if (!isRunning() && m_state != Waiting)
        return;
    stopWork();
    // The network access, the transfer and the hashing go once the job has ended (later: this may run
    // inside one of their signals); a queue keeps many ended jobs.
    if (m_work) {
        m_work->deleteLater();
        m_work = nullptr;
    }
    if (state != Done) {
        for (const QString &file : qAsConst(m_written))
            QFile::remove(file);
    }
    if (state == Done)
        qDebug() << "Export finished:" << m_paths.video;
    else
        qWarning().noquote() << "Export of" << m_paths.video << "ended:" << message;
    m_message = message;
    m_state = state;
    emit stateChanged();
    emit ended();
}

void ExportJob::stopWork()
{
    if (m_work) {
        m_work->receipts.cancel();
        m_work->download.disconnect(this);
        m_work->download.cancel();
        m_work->merger.disconnect(this);
        m_work->merger.stop();
        m_work->hasher.cancel();
        m_work->copier.cancel();
    }
    m_inputs.reset();
}

bool ExportJob::writePackageFile(const QString &path, const QByteArray &bytes)
{
    m_written << path;
    const QString failure = writeWholeFile(path, bytes);
    if (!failure.isEmpty())
        end(Failed, tr("Can't write \"%1\": %2").arg(QDir::toNativeSeparators(path), failure));
    return failure.isEmpty();
}
