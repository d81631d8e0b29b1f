#include "export/exportcontroller.h"

#include "core/utils.h"
#include "pos/receiptrows.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <QUuid>

#include <cmath>

namespace {

QList<StreamData> camerasFrom(const QVariantList &maps)
{
    QList<StreamData> cameras;
    for (const QVariant &map : maps) {
        const QVariantMap camera = map.toMap();
        cameras.append(
            { camera.value(QStringLiteral("strmId")).toString(), camera.value(QStringLiteral("strmName")).toString() });
    }
    return cameras;
}

/// The receipts of rows of a list of receipts; none when results is no such list.
QList<PosData> receiptsOf(QObject *results, const QVariantList &rows)
{
    QList<PosData> receipts;
    if (const ReceiptRows *list = qobject_cast<ReceiptRows *>(results)) {
        for (const QVariant &row : rows)
            receipts << list->recordAt(row.toInt());
    }
    return receipts;
}

/// A receipt the pages name by its time on the video's clock, its text and its till clock's offset.
PosData receiptFrom(const QDateTime &createdAt, const QString &content, double tillClockOffsetMs)
{
    PosData receipt;
    receipt.createdAt = createdAt;
    receipt.content = content;
    receipt.tillClockOffsetMs = std::llround(tillClockOffsetMs);
    return receipt;
}

} // namespace

ExportController::ExportController(QObject *parent, const ExportClients &clients)
    : QObject(parent)
    , m_queue(nullptr, clients)
    , m_clocks(TillClocks::shared())
{
    connect(&m_check, &PackageCheck::finished, this, [this](bool intact, const QString &report) {
        m_verifying = false;
        emit isVerifyingChanged();
        emit verified(intact, report);
    });
    connect(&m_queue, &ExportQueue::countsChanged, this, &ExportController::isBusyChanged);
    connect(&m_queue, &ExportQueue::jobEnded, this, &ExportController::onJobEnded);
    connect(&m_queue, &ExportQueue::drained, this, [this] {
        const int ended = m_backgroundDone + m_backgroundCancelled + m_backgroundFailures.size();
        if (ended == 0)
            return;
        QString summary = tr("Exports ended: %1 finished, %2 failed, %3 cancelled.")
                              .arg(m_backgroundDone)
                              .arg(m_backgroundFailures.size())
                              .arg(m_backgroundCancelled);
        if (!m_backgroundFailures.isEmpty())
            summary += QLatin1Char('\n') + m_backgroundFailures.join(QLatin1Char('\n'));
        m_backgroundDone = m_backgroundCancelled = 0;
        m_backgroundFailures.clear();
        emit backgroundEnded(summary);
    });
}

void ExportController::setTillClocks(TillClocks *clocks)
{
    m_clocks = clocks;
}

TillOffsets ExportController::tillOffsets() const
{
    return m_clocks ? m_clocks->offsets() : TillOffsets();
}

ExportJob *ExportController::job() const
{
    return m_job;
}

ExportQueue *ExportController::queue()
{
    return &m_queue;
}

bool ExportController::isBusy() const
{
    return m_queue.pendingCount() > 0;
}

bool ExportController::isVerifying() const
{
    return m_verifying;
}

int ExportController::halfWindowSecs() const
{
    return int(ExportJob::kHalfWindowMs / 1000);
}

bool ExportController::start(const ExportOrder &order)
{
    const QString refusal = ExportJob::refusalFor(order);
    if (!refusal.isEmpty()) {
        emit refused(refusal);
        return false;
    }
    ExportOrder single = order;
    single.batch = { QUuid::createUuid().toString(QUuid::WithoutBraces), 1, 1 };
    single.fetched = m_fetched;
    // Followed only when it runs at once: a page that opened a box over the window for a job that waits
    // behind others would keep the operator from everything else until they are all done.
    const bool follow = m_queue.pendingCount() == 0;
    ExportJob *job = m_queue.enqueue(single, ExportQueue::Naming::AsChosen);
    if (follow) {
        m_job = job;
        // After the start, so that a page sees the job running (or, refused at its start, already ended).
        emit jobChanged();
    }
    return true;
}

int ExportController::startBatch(const QList<PosData> &receipts, const std::optional<QList<StreamData>> &cameras,
    bool highQuality, const QString &folder)
{
    const QFileInfo where(Utils::localPath(folder));
    if (!where.isDir() || !where.isWritable()) {
        emit refused(tr("The folder \"%1\" does not exist or cannot be written to.")
                         .arg(QDir::toNativeSeparators(where.absoluteFilePath())));
        return 0;
    }
    QList<ExportOrder> orders;
    QStringList leftOut;
    for (const PosData &receipt : receipts) {
        const QList<StreamData> from = cameras ? *cameras : receipt.streams;
        ExportOrder order;
        order.receipt = receipt;
        order.tillOffsets = tillOffsets();
        order.highQuality = highQuality;
        if (from.isEmpty())
            leftOut << ExportJob::refusalFor(order);
        for (const StreamData &camera : from) {
            order.camera = camera;
            const QString refusal = ExportJob::refusalFor(order);
            if (!refusal.isEmpty()) {
                leftOut << refusal;
                continue;
            }
            // Named in the operator's time, as the save dialog's suggestion is.
            const QDateTime at = receipt.createdAt.toLocalTime();
            order.videoPath = videoPathIn(where.absoluteFilePath(), camera.name, at.addMSecs(-ExportJob::kHalfWindowMs),
                at.addMSecs(ExportJob::kHalfWindowMs));
            orders << order;
        }
    }
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    for (int i = 0; i < orders.size(); ++i) {
        orders[i].batch = { id, int(orders.size()), i + 1 };
        orders[i].fetched = m_fetched;
        m_queue.enqueue(orders.at(i), ExportQueue::Naming::Unique);
    }
    if (!leftOut.isEmpty()) {
        leftOut.removeDuplicates();
        emit refused(tr("Left out: %1").arg(leftOut.join(QLatin1Char(' '))));
    }
    return int(orders.size());
}

bool ExportController::exportReceipt(const QDateTime &createdAt, const QString &content, const QString &cameraId,
    const QString &cameraName, bool highQuality, const QString &file, double tillClockOffsetMs)
{
    ExportOrder order;
    order.receipt = receiptFrom(createdAt, content, tillClockOffsetMs);
    order.tillOffsets = tillOffsets();
    order.camera = { cameraId, cameraName };
    order.highQuality = highQuality;
    order.videoPath = Utils::localPath(file);
    return start(order);
}

void ExportController::offerFetchedClip(const FetchedClip &clip)
{
    m_fetched = clip;
}

bool ExportController::exportWindow(const QString &cameraId, const QString &cameraName, const QDateTime &from,
    const QDateTime &to, bool highQuality, const QString &file)
{
    ExportOrder order;
    order.windowStart = from;
    order.windowEnd = to;
    order.tillOffsets = tillOffsets();
    order.camera = { cameraId, cameraName };
    order.highQuality = highQuality;
    order.videoPath = Utils::localPath(file);
    return start(order);
}

int ExportController::exportRows(QObject *results, const QVariantList &rows, bool ownCameras,
    const QVariantList &cameras, bool highQuality, const QString &folder)
{
    const QList<PosData> receipts = receiptsOf(results, rows);
    if (receipts.isEmpty())
        return 0;
    return startBatch(
        receipts, ownCameras ? std::nullopt : std::make_optional(camerasFrom(cameras)), highQuality, folder);
}

int ExportController::exportCameras(const QDateTime &createdAt, const QString &content, const QVariantList &cameras,
    bool highQuality, const QString &folder, double tillClockOffsetMs)
{
    return startBatch(
        { receiptFrom(createdAt, content, tillClockOffsetMs) }, camerasFrom(cameras), highQuality, folder);
}

void ExportController::cancel()
{
    if (m_job)
        m_job->cancel();
}

void ExportController::cancelAll()
{
    m_queue.cancelAll();
}

void ExportController::forget()
{
    m_queue.clear();
    m_fetched = FetchedClip();
    m_backgroundDone = m_backgroundCancelled = 0;
    m_backgroundFailures.clear();
    if (m_job) {
        m_job = nullptr;
        emit jobChanged();
    }
}

void ExportController::showQueue()
{
    emit queueRequested();
}

QStringList ExportController::exportsOf(const QDateTime &createdAt, const QString &content) const
{
    return m_queue.exportsOf(createdAt, content);
}

QVariantList ExportController::exportedRows(QObject *results, const QVariantList &rows) const
{
    QVariantList exported;
    const QList<PosData> receipts = receiptsOf(results, rows);
    for (int i = 0; i < receipts.size(); ++i) {
        if (!m_queue.exportsOf(receipts.at(i).createdAt, receipts.at(i).content).isEmpty())
            exported << rows.at(i);
    }
    return exported;
}

QVariantList ExportController::camerasOf(QObject *results, const QVariantList &rows) const
{
    QVariantList cameras;
    for (const PosData &receipt : receiptsOf(results, rows)) {
        for (const StreamData &camera : receipt.streams)
            cameras << QVariantMap { { QStringLiteral("strmId"), camera.id },
                { QStringLiteral("strmName"), camera.name } };
    }
    return cameras;
}

void ExportController::onJobEnded(ExportJob *job)
{
    if (job == m_job) {
        emit jobEnded();
        return;
    }
    switch (job->state()) {
    case ExportJob::Done:
        ++m_backgroundDone;
        break;
    case ExportJob::Cancelled:
        ++m_backgroundCancelled;
        break;
    default:
        m_backgroundFailures << tr("Failed: %1: %2").arg(job->description(), job->message());
        break;
    }
}

QString ExportController::refusalFor(const QDateTime &createdAt, const QVariantList &streams) const
{
    ExportOrder order;
    order.receipt.createdAt = createdAt;
    if (!streams.isEmpty())
        order.camera.id = streams.constFirst().toMap().value(QStringLiteral("strmId")).toString();
    return ExportJob::refusalFor(order);
}

QString ExportController::suggestedFile(const QString &cameraName, const QDateTime &from, const QDateTime &to) const
{
    return QUrl::fromLocalFile(suggestedVideoPath(cameraName, from, to)).toString();
}

QString ExportController::suggestedFolder() const
{
    return QDir::toNativeSeparators(suggestedVideoFolder());
}

QString ExportController::folderUrl(const QString &path) const
{
    return QUrl::fromLocalFile(QDir::fromNativeSeparators(path)).toString();
}

void ExportController::verify(const QString &file)
{
    if (m_verifying)
        return;
    m_verifying = true;
    emit isVerifyingChanged();
    m_check.start(Utils::localPath(file));
}

void ExportController::openFolder(const QString &path) const
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}
