#include "pos/tillclocks.h"

#include "core/settingsfile.h"

#include <QRegularExpression>
#include <QSettings>

#include <algorithm>
#include <cmath>

namespace {

const QString SettingsGroup = QStringLiteral("tillClocks");
/// A clock a day off is a clock set to the wrong date, not one that runs fast.
constexpr int kLimitSecs = 24 * 3600;

/// Names as people order them: letter case aside, and numbers by their value ("Till 2" before "Till 10"),
/// whatever the machine's collation can do.
int namesCompare(const QString &a, const QString &b)
{
    int i = 0;
    int j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            const int startA = i;
            const int startB = j;
            while (i < a.size() && a.at(i).isDigit())
                ++i;
            while (j < b.size() && b.at(j).isDigit())
                ++j;
            // Without leading zeros, the longer number is the larger; of equal length, the text decides.
            const QStringView numberA = QStringView(a).mid(startA, i - startA);
            const QStringView numberB = QStringView(b).mid(startB, j - startB);
            const auto significant = [](QStringView number) {
                int zeros = 0;
                while (zeros + 1 < number.size() && number.at(zeros) == QLatin1Char('0'))
                    ++zeros;
                return number.mid(zeros);
            };
            const QStringView x = significant(numberA);
            const QStringView y = significant(numberB);
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (const int digits = x.compare(y))
                return digits;
            continue;
        }
        const int letters = QStringView(a).mid(i, 1).compare(QStringView(b).mid(j, 1), Qt::CaseInsensitive);
        if (letters != 0)
            return letters;
        ++i;
        ++j;
    }
    return (a.size() - i) - (b.size() - j);
}

} // namespace

QString TillOffsets::keyOf(const QString &tillId, const QString &tillName)
{
    // The id where there is one: a till may be renamed, and two tills of a chain may share a name.
    return tillId.isEmpty() ? QStringLiteral("name:") + tillName : QStringLiteral("id:") + tillId;
}

void TillOffsets::set(const QString &key, qint64 ms)
{
    if (ms == 0)
        m_byTill.remove(key);
    else
        m_byTill.insert(key, ms);
}

QDateTime TillOffsets::requestFrom(const QDateTime &from) const
{
    // A record on the video's clock at t was written at t + offset.
    qint64 earliest = 0;
    for (const qint64 ms : m_byTill)
        earliest = std::min(earliest, ms);
    return earliest == 0 ? from : from.addMSecs(earliest);
}

QDateTime TillOffsets::requestTo(const QDateTime &to) const
{
    qint64 latest = 0;
    for (const qint64 ms : m_byTill)
        latest = std::max(latest, ms);
    return latest == 0 ? to : to.addMSecs(latest);
}

QList<PosData> onVideoClock(QList<PosData> records, const TillOffsets &offsets)
{
    for (PosData &record : records) {
        const qint64 offset = offsets.of(record);
        if (offset == record.tillClockOffsetMs)
            continue;
        // addMSecs keeps the zone or offset the server wrote.
        record.createdAt = record.createdAt.addMSecs(record.tillClockOffsetMs - offset);
        record.tillClockOffsetMs = offset;
    }
    return records;
}

QList<PosData> windowOnVideoClock(
    QList<PosData> records, const TillOffsets &offsets, const QDateTime &from, const QDateTime &to)
{
    if (offsets.isEmpty())
        return onVideoClock(std::move(records), offsets);
    records = onVideoClock(std::move(records), offsets);
    records.erase(std::remove_if(records.begin(), records.end(),
                      [&from, &to](const PosData &record) {
                          return record.createdAt.isValid() && (record.createdAt < from || record.createdAt > to);
                      }),
        records.end());
    return records;
}

TillClocks::TillClocks(QObject *parent)
    : RowListModel(
        { { TillIdRole, QByteArrayLiteral("tillId") }, { TillNameRole, QByteArrayLiteral("tillName") },
            { OffsetMsRole, QByteArrayLiteral("offsetMs") }, { OffsetTextRole, QByteArrayLiteral("offsetText") } },
        parent)
{
}

TillClocks *TillClocks::shared()
{
    // Never deleted: the pages and the exports ask it until the process ends.
    static TillClocks *clocks = [] {
        auto *made = new TillClocks;
        made->useSettings(&settingsFile());
        return made;
    }();
    return clocks;
}

int TillClocks::limitSecs() const
{
    return kLimitSecs;
}

void TillClocks::useSettings(QSettings *settings)
{
    m_settings = settings;
    QVector<Till> rows;
    TillOffsets offsets;
    if (settings) {
        settings->beginGroup(SettingsGroup);
        const int count = settings->beginReadArray(QStringLiteral("tills"));
        for (int i = 0; i < count; ++i) {
            settings->setArrayIndex(i);
            Till till { settings->value(QStringLiteral("id")).toString(),
                settings->value(QStringLiteral("name")).toString(),
                settings->value(QStringLiteral("offsetMs")).toLongLong() };
            if (std::abs(till.offsetMs) > kLimitSecs * qint64(1000))
                till.offsetMs = 0;
            rows.append(till);
            offsets.set(TillOffsets::keyOf(till.id, till.name), till.offsetMs);
        }
        settings->endArray();
        settings->endGroup();
    }
    const bool moved = !(offsets == m_offsets);
    const bool counted = rows.size() != m_rows.size();
    replaceRows(m_rows, rows);
    m_offsets = offsets;
    if (counted)
        emit countChanged();
    if (moved)
        emit offsetsChanged();
}

void TillClocks::meet(const QList<PosData> &records)
{
    bool added = false;
    for (const PosData &record : records) {
        if ((record.tillId.isEmpty() && record.tillName.isEmpty()) || rowOf(record.tillId, record.tillName) >= 0)
            continue;
        insert({ record.tillId, record.tillName, 0 });
        added = true;
    }
    if (added) {
        emit countChanged();
        save();
    }
}

int TillClocks::insert(const Till &till)
{
    const auto before = [](const Till &a, const Till &b) {
        const int names = namesCompare(a.name, b.name);
        return names != 0 ? names < 0 : namesCompare(a.id, b.id) < 0;
    };
    const int row = int(std::upper_bound(m_rows.cbegin(), m_rows.cend(), till, before) - m_rows.cbegin());
    beginInsertRows(QModelIndex(), row, row);
    m_rows.insert(row, till);
    endInsertRows();
    return row;
}

bool TillClocks::setOffsetSecs(int row, double seconds)
{
    if (row < 0 || row >= m_rows.size() || !std::isfinite(seconds) || std::abs(seconds) > kLimitSecs)
        return false;
    setOffset(row, std::llround(seconds * 1000));
    return true;
}

bool TillClocks::setOffsetMs(const QString &tillId, const QString &tillName, qint64 ms)
{
    if ((tillId.isEmpty() && tillName.isEmpty()) || std::abs(ms) > kLimitSecs * qint64(1000))
        return false;
    int row = rowOf(tillId, tillName);
    if (row < 0) {
        row = insert({ tillId, tillName, 0 });
        emit countChanged();
        save();
    }
    setOffset(row, ms);
    return true;
}

void TillClocks::setOffset(int row, qint64 ms)
{
    Till &till = m_rows[row];
    if (till.offsetMs == ms)
        return;
    till.offsetMs = ms;
    m_offsets.set(TillOffsets::keyOf(till.id, till.name), ms);
    emit dataChanged(index(row), index(row));
    save();
    emit offsetsChanged();
}

int TillClocks::rowOf(const QString &tillId, const QString &tillName) const
{
    const QString key = TillOffsets::keyOf(tillId, tillName);
    for (int row = 0; row < m_rows.size(); ++row) {
        if (TillOffsets::keyOf(m_rows.at(row).id, m_rows.at(row).name) == key)
            return row;
    }
    return -1;
}

QString TillClocks::secondsText(double ms) const
{
    static const QRegularExpression trailingZeros(QStringLiteral("\\.?0+$"));
    return QString::number(double(std::llround(ms)) / 1000, 'f', 3).remove(trailingZeros);
}

QVariant TillClocks::value(int row, int role) const
{
    const Till &till = m_rows.at(row);
    switch (role) {
    case TillIdRole:
        return till.id;
    case TillNameRole:
        return till.name;
    case OffsetMsRole:
        return double(till.offsetMs);
    case OffsetTextRole:
        return secondsText(double(till.offsetMs));
    }
    return QVariant();
}

void TillClocks::save()
{
    if (!m_settings)
        return;
    m_settings->beginGroup(SettingsGroup);
    m_settings->remove(QString());
    m_settings->beginWriteArray(QStringLiteral("tills"), m_rows.size());
    for (int i = 0; i < m_rows.size(); ++i) {
        m_settings->setArrayIndex(i);
        m_settings->setValue(QStringLiteral("id"), m_rows.at(i).id);
        m_settings->setValue(QStringLiteral("name"), m_rows.at(i).name);
        m_settings->setValue(QStringLiteral("offsetMs"), m_rows.at(i).offsetMs);
    }
    m_settings->endArray();
    m_settings->endGroup();
}
