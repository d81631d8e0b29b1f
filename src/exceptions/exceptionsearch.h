#pragma once
#include "core/common.h"
#include "exceptions/flaggedreceipts.h"
#include "exceptions/ruleengine.h"
#include "net/request.h"

#include <QDate>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>

class ExceptionRules;
class PosClient;
class TillClocks;

/// The Exceptions tab's search: the POS server's receipts of a range of local days, fetched one day at a
/// time (one window request a day, so that a day that fails costs only itself), run through the exception
/// rules here, and what they flag counted by rule, by till and by hour of day and listed. The receipts stay
/// while the tab lives: a change of the rules runs them again, a change of a till's clock moves them.
class ExceptionSearch : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY progressChanged)
    /// The day being fetched, from 1; the days fetched once the search has ended.
    Q_PROPERTY(int dayNumber READ dayNumber NOTIFY progressChanged)
    Q_PROPERTY(int dayCount READ dayCount NOTIFY progressChanged)
    /// "day 3 of 7" while it runs.
    Q_PROPERTY(QString progressText READ progressText NOTIFY progressChanged)
    /// Whether a search has run (or runs) since the tab was opened.
    Q_PROPERTY(bool hasRun READ hasRun NOTIFY progressChanged)
    /// The search was cancelled before its last day.
    Q_PROPERTY(bool cancelled READ cancelled NOTIFY progressChanged)
    /// Each day that could not be fetched: "Tuesday 3 March: <reason>".
    Q_PROPERTY(QStringList failedDays READ failedDays NOTIFY resultsChanged)
    /// Each enabled rule that cannot work: "<name>: <reason>".
    Q_PROPERTY(QStringList ruleProblems READ ruleProblems NOTIFY resultsChanged)
    /// The receipts read, and of them those flagged.
    Q_PROPERTY(int receiptCount READ receiptCount NOTIFY resultsChanged)
    Q_PROPERTY(int flaggedCount READ flaggedCount NOTIFY resultsChanged)
    /// Maps with "label" and "count": the flags (a rule firing on a receipt counts one) of each rule that
    /// runs, of each till, and of each hour of the day ("00" to "23") by the video's clock.
    Q_PROPERTY(QVariantList byRule READ byRule NOTIFY resultsChanged)
    Q_PROPERTY(QVariantList byTill READ byTill NOTIFY resultsChanged)
    Q_PROPERTY(QVariantList byHour READ byHour NOTIFY resultsChanged)
    Q_PROPERTY(FlaggedReceipts *flagged READ flagged CONSTANT)
public:
    /// The longest range of days searched at once.
    static constexpr int kMaxDays = 31;

    explicit ExceptionSearch(QObject *parent = nullptr);

    /// The POS server, the rules and the tills' clocks: those of the whole run unless others are given.
    void setClient(PosClient *client);
    void setRules(ExceptionRules *rules);
    void setTillClocks(TillClocks *clocks);

    bool isRunning() const { return m_dayIndex >= 0; }
    int dayNumber() const;
    int dayCount() const { return int(m_days.size()); }
    QString progressText() const;
    bool hasRun() const { return !m_days.isEmpty(); }
    bool cancelled() const { return m_cancelled; }
    QStringList failedDays() const { return m_failedDays; }
    QStringList ruleProblems() const { return m_ruleProblems; }
    int receiptCount() const { return m_receipts.size(); }
    int flaggedCount() const { return m_flaggedReceipts; }
    QVariantList byRule() const { return m_byRule; }
    QVariantList byTill() const { return m_byTill; }
    QVariantList byHour() const { return m_byHour; }
    FlaggedReceipts *flagged() { return &m_flagged; }
    /// The receipts read so far, on the video's clock.
    const QList<PosData> &receipts() const { return m_receipts; }

    /// Searches the local days from from to to (both included), dropping what an earlier search found.
    /// False, with errorOccured(), for a range that is not one.
    Q_INVOKABLE bool start(const QDate &from, const QDate &to);
    /// Stops after the days fetched so far, which stay.
    Q_INVOKABLE void cancel();

signals:
    void progressChanged();
    void resultsChanged();
    void errorOccured(const QString &message);

private:
    void fetchDay();
    void dayDone(QList<PosData> records, const QString &failure);
    /// Runs the rules over every receipt again, and counts.
    void evaluateAll();
    /// The counts, the list and the rules' problems from what is flagged.
    void publish();

    QPointer<PosClient> m_client;
    QPointer<ExceptionRules> m_rules;
    QPointer<TillClocks> m_clocks;
    Request::Latest m_latest;

    QVector<QDate> m_days;
    int m_dayIndex = -1;
    bool m_cancelled = false;
    QStringList m_failedDays;
    QList<PosData> m_receipts;
    QVector<FlaggedReceipt> m_hits;

    QStringList m_ruleProblems;
    int m_flaggedReceipts = 0;
    QVariantList m_byRule;
    QVariantList m_byTill;
    QVariantList m_byHour;
    FlaggedReceipts m_flagged;
};
