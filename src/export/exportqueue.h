#pragma once
#include "core/rowlistmodel.h"
#include "export/exportjob.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

/// Every export asked for in this run, one row each in the order asked, run one at a time: a job starts
/// once the one before it has ended, however that one ended. Rows stay after their job has ended, so
/// that the panel can say how each went, try it again or open its folder.
class ExportQueue : public RowListModel
{
    Q_OBJECT
    /// Jobs waiting or running.
    Q_PROPERTY(int pendingCount READ pendingCount NOTIFY countsChanged)
    Q_PROPERTY(int doneCount READ doneCount NOTIFY countsChanged)
    Q_PROPERTY(int failedCount READ failedCount NOTIFY countsChanged)
    Q_PROPERTY(ExportJob *running READ running NOTIFY runningChanged)
public:
    enum Role {
        ReceiptTimeRole = Qt::UserRole + 1,
        CameraRole,
        StateRole,
        StateTextRole,
        PercentRole,
        PhaseRole,
        MessageRole,
        PathRole,
        DescriptionRole,
    };
    /// How a job's files are named: as the operator chose in the save dialog, which asked before
    /// replacing the video, or made up here, where nothing on disk is replaced.
    enum class Naming { AsChosen, Unique };

    /// The exports fetch from clients: those of the connection settings unless others are given.
    explicit ExportQueue(QObject *parent = nullptr, const ExportClients &clients = ExportClients::shared());
    /// Jobs still running are stopped and their partial files removed.
    ~ExportQueue() override;

    /// Adds a job for order at the end of the queue, under a name that no other job of the queue has
    /// (and, for Unique, that no file on disk has: a counter is added on a clash). Starts it at once
    /// when nothing runs.
    ExportJob *enqueue(ExportOrder order, Naming naming);

    int pendingCount() const;
    int doneCount() const;
    int failedCount() const;
    ExportJob *running() const;
    Q_INVOKABLE ExportJob *jobAt(int row) const;

    Q_INVOKABLE void cancel(int row);
    Q_INVOKABLE void cancelAll();
    /// A failed or cancelled export again, as a new job that waits behind those already waiting; it
    /// keeps its row.
    Q_INVOKABLE void retry(int row);
    /// Cancels the jobs that wait or run, then forgets every job.
    void clear();
    /// The videos of the finished exports of the receipt received at createdAt with that text.
    QStringList exportsOf(const QDateTime &createdAt, const QString &content) const;

signals:
    void countsChanged();
    void runningChanged();
    /// Once per job, when it has ended as its state says.
    void jobEnded(ExportJob *job);
    /// The last job waiting or running has ended.
    void drained();

protected:
    int size() const override;
    QVariant value(int row, int role) const override;

private:
    struct Row {
        ExportJob *job;
        Naming naming;
    };

    ExportJob *makeJob(ExportOrder order, Naming naming, const ExportJob *replaced);
    void startNext();
    void onEnded(ExportJob *job);
    int rowOf(const ExportJob *job) const;
    void rowChanged(const ExportJob *job, const QVector<int> &roles);
    /// wanted, or wanted with " (2)", " (3)", … before its suffix: the first that clashes with no job of
    /// the queue but replaced, and with no file on disk that naming forbids replacing.
    QString freeVideoPath(const QString &wanted, Naming naming, const ExportJob *replaced) const;

    ExportClients m_clients;
    QList<Row> m_rows;
    /// The jobs that wait, in the order they are to run.
    QList<ExportJob *> m_waiting;
    ExportJob *m_running = nullptr;
};
