#include "export/exportqueue.h"

#include "export/exportpackage.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>

namespace {

bool samePath(const QString &a, const QString &b)
{
    // Not QFileInfo's comparison: it takes any two files that do not exist yet for the same.
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity sensitivity = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity sensitivity = Qt::CaseSensitive;
#endif
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath())
               .compare(QDir::cleanPath(QFileInfo(b).absoluteFilePath()), sensitivity)
        == 0;
}

} // namespace

ExportQueue::ExportQueue(QObject *parent, const ExportClients &clients)
    : RowListModel({ { ReceiptTimeRole, "receiptTime" }, { CameraRole, "camera" }, { StateRole, "state" },
                       { StateTextRole, "stateText" }, { PercentRole, "percent" }, { PhaseRole, "phase" },
                       { MessageRole, "message" }, { PathRole, "path" }, { DescriptionRole, "description" } },
        parent)
    , m_clients(clients)
{
}

ExportQueue::~ExportQueue()
{
    for (const Row &row : qAsConst(m_rows)) {
        row.job->disconnect(this);
        delete row.job;
    }
}

ExportJob *ExportQueue::enqueue(ExportOrder order, Naming naming)
{
    ExportJob *job = makeJob(std::move(order), naming, nullptr);
    beginInsertRows({}, m_rows.size(), m_rows.size());
    m_rows.append({ job, naming });
    endInsertRows();
    m_waiting.append(job);
    emit countsChanged();
    startNext();
    return job;
}

ExportJob *ExportQueue::makeJob(ExportOrder order, Naming naming, const ExportJob *replaced)
{
    order.videoPath = freeVideoPath(order.videoPath, naming, replaced);
    auto *job = new ExportJob(order, m_clients, this);
    // Each job's signals name that job: one that has ended, or been replaced, can only touch its own row.
    connect(job, &ExportJob::stateChanged, this, [this, job] {
        rowChanged(job, { StateRole, StateTextRole, MessageRole, PercentRole, PhaseRole });
    });
    connect(job, &ExportJob::progressChanged, this, [this, job] {
        rowChanged(job, { StateTextRole, PercentRole, PhaseRole });
    });
    connect(job, &ExportJob::ended, this, [this, job] { onEnded(job); });
    return job;
}

void ExportQueue::startNext()
{
    if (m_running || m_waiting.isEmpty())
        return;
    ExportJob *job = m_waiting.takeFirst();
    const int row = rowOf(job);
    // A name made up here was free when the job was asked for; something may have taken it since.
    if (m_rows.at(row).naming == Naming::Unique) {
        const QString path = freeVideoPath(job->order().videoPath, Naming::Unique, job);
        if (!samePath(path, job->order().videoPath)) {
            ExportJob *renamed = makeJob(job->order(), Naming::Unique, job);
            m_rows[row].job = renamed;
            job->disconnect(this);
            job->deleteLater();
            job = renamed;
            emit dataChanged(index(row), index(row));
        }
    }
    m_running = job;
    emit runningChanged();
    job->start();
}

void ExportQueue::onEnded(ExportJob *job)
{
    // The counts are told once they are true: a job that has ended is neither waiting nor running.
    m_waiting.removeOne(job);
    const bool wasRunning = job == m_running;
    if (wasRunning)
        m_running = nullptr;
    emit countsChanged();
    if (wasRunning)
        emit runningChanged();
    emit jobEnded(job);
    if (pendingCount() == 0) {
        emit drained();
        return;
    }
    // Started from the event loop: a job that ends inside its start (FFmpeg missing) would otherwise
    // start the next one from within itself, a level deeper for every job of the queue.
    QMetaObject::invokeMethod(this, &ExportQueue::startNext, Qt::QueuedConnection);
}

int ExportQueue::pendingCount() const
{
    return m_waiting.size() + (m_running ? 1 : 0);
}

int ExportQueue::doneCount() const
{
    return int(std::count_if(
        m_rows.cbegin(), m_rows.cend(), [](const Row &row) { return row.job->state() == ExportJob::Done; }));
}

int ExportQueue::failedCount() const
{
    return int(std::count_if(
        m_rows.cbegin(), m_rows.cend(), [](const Row &row) { return row.job->state() == ExportJob::Failed; }));
}

ExportJob *ExportQueue::running() const
{
    return m_running;
}

ExportJob *ExportQueue::jobAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row).job : nullptr;
}

void ExportQueue::cancel(int row)
{
    if (ExportJob *job = jobAt(row))
        job->cancel();
}

void ExportQueue::cancelAll()
{
    // The waiting ones first, so that none of them starts when the running one ends.
    const QList<ExportJob *> waiting = m_waiting;
    for (ExportJob *job : waiting)
        job->cancel();
    if (m_running)
        m_running->cancel();
}

void ExportQueue::retry(int row)
{
    ExportJob *old = jobAt(row);
    if (!old || (old->state() != ExportJob::Failed && old->state() != ExportJob::Cancelled))
        return;
    ExportJob *job = makeJob(old->order(), m_rows.at(row).naming, old);
    m_rows[row].job = job;
    old->disconnect(this);
    old->deleteLater();
    emit dataChanged(index(row), index(row));
    m_waiting.append(job);
    emit countsChanged();
    startNext();
}

void ExportQueue::clear()
{
    cancelAll();
    beginResetModel();
    for (const Row &row : qAsConst(m_rows)) {
        row.job->disconnect(this);
        // Later: a job may be telling that it was cancelled.
        row.job->deleteLater();
    }
    m_rows.clear();
    m_waiting.clear();
    const bool wasRunning = m_running != nullptr;
    m_running = nullptr;
    endResetModel();
    emit countsChanged();
    if (wasRunning)
        emit runningChanged();
}

QStringList ExportQueue::exportsOf(const QDateTime &createdAt, const QString &content) const
{
    QStringList videos;
    for (const Row &row : m_rows) {
        const PosData &receipt = row.job->order().receipt;
        if (row.job->state() == ExportJob::Done && receipt.createdAt == createdAt && receipt.content == content)
            videos << row.job->videoPath();
    }
    return videos;
}

int ExportQueue::size() const
{
    return m_rows.size();
}

QVariant ExportQueue::value(int row, int role) const
{
    const ExportJob *job = m_rows.at(row).job;
    switch (role) {
    case ReceiptTimeRole:
        // A window of its own is named by its start.
        return job->order().hasExplicitWindow() ? job->windowStart() : job->order().receipt.createdAt;
    case CameraRole:
        return job->order().camera.name;
    case StateRole:
        return int(job->state());
    case StateTextRole:
        switch (job->state()) {
        case ExportJob::Waiting:
            return tr("waiting");
        case ExportJob::Done:
            return tr("done");
        case ExportJob::Failed:
            return tr("failed");
        case ExportJob::Cancelled:
            return tr("cancelled");
        default:
            return job->percent() >= 0 ? tr("running, %1%").arg(job->percent()) : tr("running");
        }
    case PercentRole:
        return job->percent();
    case PhaseRole:
        return job->phase();
    case MessageRole:
        return job->message();
    case PathRole:
        return job->videoPath();
    case DescriptionRole:
        return job->description();
    }
    return QVariant();
}

int ExportQueue::rowOf(const ExportJob *job) const
{
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).job == job)
            return row;
    }
    return -1;
}

void ExportQueue::rowChanged(const ExportJob *job, const QVector<int> &roles)
{
    const int row = rowOf(job);
    if (row >= 0)
        emit dataChanged(index(row), index(row), roles);
}

QString ExportQueue::freeVideoPath(const QString &wanted, Naming naming, const ExportJob *replaced) const
{
    const PackagePaths asked = PackagePaths::forVideo(wanted);
    const QString stem = asked.video.left(asked.video.size() - int(qstrlen(".mp4")));
    for (int counter = 1;; ++counter) {
        const QString candidate = counter == 1 ? asked.video : QStringLiteral("%1 (%2).mp4").arg(stem).arg(counter);
        const bool queued = std::any_of(m_rows.cbegin(), m_rows.cend(),
            [&](const Row &row) { return row.job != replaced && samePath(row.job->paths().video, candidate); });
        if (queued)
            continue;
        const PackagePaths paths = PackagePaths::forVideo(candidate);
        // A chosen video that exists was agreed to be replaced in the save dialog, and its package with
        // it; the other files of a package whose video is not there were not.
        const bool replacingAgreed = counter == 1 && naming == Naming::AsChosen && QFileInfo::exists(paths.video);
        if (replacingAgreed)
            return candidate;
        const QStringList files = QStringList { paths.video, paths.checksums } + paths.covered();
        if (std::none_of(files.cbegin(), files.cend(), [](const QString &file) { return QFileInfo::exists(file); }))
            return candidate;
    }
}
