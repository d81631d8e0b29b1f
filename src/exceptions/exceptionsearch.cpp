#include "exceptions/exceptionsearch.h"

#include "exceptions/exceptionrules.h"
#include "net/posclient.h"
#include "pos/tillclocks.h"

#include <QLocale>
#include <QVariantMap>

namespace {

QVariantMap bar(const QString &label, int count)
{
    return QVariantMap { { QStringLiteral("label"), label }, { QStringLiteral("count"), count } };
}

} // namespace

ExceptionSearch::ExceptionSearch(QObject *parent)
    : QObject(parent)
    , m_client(PosClient::shared())
{
    setRules(ExceptionRules::shared());
    setTillClocks(TillClocks::shared());
}

void ExceptionSearch::setClient(PosClient *client)
{
    m_client = client;
}

void ExceptionSearch::setRules(ExceptionRules *rules)
{
    if (m_rules)
        m_rules->disconnect(this);
    m_rules = rules;
    if (m_rules)
        connect(m_rules, &ExceptionRules::rulesChanged, this, &ExceptionSearch::evaluateAll);
    evaluateAll();
}

void ExceptionSearch::setTillClocks(TillClocks *clocks)
{
    if (m_clocks)
        m_clocks->disconnect(this);
    m_clocks = clocks;
    if (!m_clocks)
        return;
    // The rules read the text alone: the flags stay, the times and the hours move.
    connect(m_clocks, &TillClocks::offsetsChanged, this, [this] {
        m_receipts = onVideoClock(std::move(m_receipts), m_clocks->offsets());
        publish();
    });
}

int ExceptionSearch::dayNumber() const
{
    return isRunning() ? m_dayIndex + 1 : int(m_days.size());
}

QString ExceptionSearch::progressText() const
{
    return isRunning() ? tr("day %1 of %2").arg(dayNumber()).arg(dayCount()) : QString();
}

bool ExceptionSearch::start(const QDate &from, const QDate &to)
{
    if (!from.isValid() || !to.isValid() || from > to) {
        emit errorOccured(tr("The first day must not come after the last."));
        return false;
    }
    if (from.daysTo(to) >= kMaxDays) {
        emit errorOccured(tr("At most %1 days can be searched at once.").arg(kMaxDays));
        return false;
    }
    if (!m_client) {
        emit errorOccured(tr("No POS server is set."));
        return false;
    }
    m_latest.abort();
    m_days.clear();
    for (QDate day = from; day <= to; day = day.addDays(1))
        m_days << day;
    m_dayIndex = 0;
    m_cancelled = false;
    m_failedDays.clear();
    m_receipts.clear();
    m_hits.clear();
    publish();
    emit progressChanged();
    fetchDay();
    return true;
}

void ExceptionSearch::cancel()
{
    if (!isRunning())
        return;
    m_latest.abort();
    m_dayIndex = -1;
    m_cancelled = true;
    emit progressChanged();
}

void ExceptionSearch::fetchDay()
{
    const QDate day = m_days.at(m_dayIndex);
    m_latest.send(
        *m_client, m_client->windowUrl(day.startOfDay(Qt::LocalTime), day.endOfDay(Qt::LocalTime)), this,
        [this](const QByteArray &body) { dayDone(parsePosResult(body, QString()), QString()); },
        [this](const QString &message, QNetworkReply::NetworkError) { dayDone({}, message); });
}

void ExceptionSearch::dayDone(QList<PosData> records, const QString &failure)
{
    if (!failure.isEmpty()) {
        // Named as the operator names days; the other days are kept.
        m_failedDays << QStringLiteral("%1: %2").arg(
            QLocale().toString(m_days.at(m_dayIndex), QStringLiteral("dddd d MMMM")), failure);
    } else if (!records.isEmpty()) {
        if (m_clocks)
            m_clocks->meet(records);
        records = onVideoClock(std::move(records), m_clocks ? m_clocks->offsets() : TillOffsets());
        if (m_rules) {
            const int first = m_receipts.size();
            for (FlaggedReceipt flag : m_rules->engine().evaluate(records)) {
                flag.receipt += first;
                m_hits << flag;
            }
        }
        m_receipts += records;
    }
    if (++m_dayIndex >= m_days.size())
        m_dayIndex = -1;
    publish();
    emit progressChanged();
    if (isRunning())
        fetchDay();
}

void ExceptionSearch::evaluateAll()
{
    m_hits = m_rules ? m_rules->engine().evaluate(m_receipts) : QVector<FlaggedReceipt>();
    publish();
}

void ExceptionSearch::publish()
{
    const QVector<Rule> rules = m_rules ? m_rules->engine().rules() : QVector<Rule>();
    m_ruleProblems.clear();
    for (int r = 0; r < rules.size(); ++r) {
        const QString problem = m_rules->engine().problem(r);
        if (rules.at(r).enabled && !problem.isEmpty())
            m_ruleProblems << QStringLiteral("%1: %2").arg(rules.at(r).name, problem);
    }

    const FlagCounts counts = countFlags(m_receipts, m_hits, rules.size());
    m_flaggedReceipts = counts.receipts;
    m_byRule.clear();
    for (int r = 0; r < rules.size(); ++r) {
        if (rules.at(r).enabled && m_rules->engine().problem(r).isEmpty())
            m_byRule << bar(rules.at(r).name, counts.byRule.at(r));
    }
    m_byTill.clear();
    for (const FlagCounts::Till &till : counts.byTill)
        m_byTill << bar(till.name.isEmpty() ? till.id : till.name, till.flags);
    m_byHour.clear();
    for (int hour = 0; hour < 24; ++hour)
        m_byHour << bar(QStringLiteral("%1").arg(hour, 2, 10, QLatin1Char('0')), counts.byHour.at(size_t(hour)));

    QVector<FlaggedRow> rows;
    rows.reserve(m_hits.size());
    for (const FlaggedReceipt &flag : qAsConst(m_hits)) {
        FlaggedRow row { m_receipts.at(flag.receipt), {}, flag.hits.constFirst().line,
            flag.hits.constFirst().lineText };
        for (const RuleHit &hit : flag.hits)
            row.rules << rules.at(hit.rule).name;
        rows << row;
    }
    m_flagged.setRows(std::move(rows));
    emit resultsChanged();
}
