#include "exportcontroller.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace {

/// The path behind what a file dialog gives: a file URL or already a path.
QString localPath(const QString &file)
{
    const QUrl url(file);
    return url.isLocalFile() ? url.toLocalFile() : file;
}

} // namespace

ExportController::ExportController(QObject *parent)
    : QObject(parent)
{
    connect(&m_check, &PackageCheck::finished, this, [this](bool intact, const QString &report) {
        m_verifying = false;
        emit isVerifyingChanged();
        emit verified(intact, report);
    });
}

ExportJob *ExportController::job() const
{
    return m_job;
}

bool ExportController::isBusy() const
{
    return m_job && m_job->isRunning();
}

bool ExportController::isVerifying() const
{
    return m_verifying;
}

bool ExportController::start(const ExportOrder &order)
{
    if (isBusy()) {
        emit refused(
            tr("An export is already running (%1). Wait for it to end or cancel it first.").arg(m_job->description()));
        return false;
    }
    const QString refusal = ExportJob::refusalFor(order);
    if (!refusal.isEmpty()) {
        emit refused(refusal);
        return false;
    }
    if (m_job)
        m_job->deleteLater();
    m_job = new ExportJob(order, this);
    connect(m_job, &ExportJob::stateChanged, this, &ExportController::isBusyChanged);
    connect(m_job, &ExportJob::ended, this, &ExportController::jobEnded);
    m_job->start();
    // After the start, so that a page sees the job running (or, refused at its start, already ended).
    emit jobChanged();
    return true;
}

bool ExportController::exportReceipt(const QDateTime &createdAt, const QString &content, const QString &cameraId,
    const QString &cameraName, bool highQuality, const QString &file)
{
    ExportOrder order;
    order.receipt.createdAt = createdAt;
    order.receipt.content = content;
    order.camera = { cameraId, cameraName };
    order.highQuality = highQuality;
    order.videoPath = localPath(file);
    return start(order);
}

QString ExportController::busyRefusal() const
{
    if (!isBusy())
        return QString();
    return tr("An export is already running (%1). Wait for it to end or cancel it first.").arg(m_job->description());
}

void ExportController::cancel()
{
    if (m_job)
        m_job->cancel();
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

void ExportController::verify(const QString &file)
{
    if (m_verifying)
        return;
    m_verifying = true;
    emit isVerifyingChanged();
    m_check.start(localPath(file));
}

void ExportController::openFolder(const QString &path) const
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}
