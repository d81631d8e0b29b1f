#pragma once
#include "core/common.h"
#include "core/rowlistmodel.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QVector>

class QSettings;

/// How far each till's clock runs ahead of the cameras' (negative: behind), by till. A till is known by
/// the id of the POS server's "device", or by its name where the server gives it no id. Only offsets
/// other than 0 are held: a till without one keeps the server's times.
class TillOffsets
{
public:
    static QString keyOf(const QString &tillId, const QString &tillName);
    static QString keyOf(const PosData &record) { return keyOf(record.tillId, record.tillName); }

    bool isEmpty() const { return m_byTill.isEmpty(); }
    qint64 ofKey(const QString &key) const { return m_byTill.value(key); }
    qint64 of(const PosData &record) const { return ofKey(keyOf(record)); }
    /// 0 forgets the till's offset.
    void set(const QString &key, qint64 ms);

    /// What to ask the POS server for to find every record whose time on the video's clock lies from
    /// from to to: the window, reaching as much further as the tills' clocks run ahead or behind. The
    /// window itself when no offset is set.
    QDateTime requestFrom(const QDateTime &from) const;
    QDateTime requestTo(const QDateTime &to) const;

    bool operator==(const TillOffsets &other) const { return m_byTill == other.m_byTill; }

private:
    QHash<QString, qint64> m_byTill;
};

/// The records on the video's clock: each a copy whose createdAt is moved back by its till's offset, which
/// is kept in tillClockOffsetMs; receivedAtText, the time as the server wrote it, stays. Records that were
/// moved before are moved from their server's time again, so that a new set of offsets can be applied to
/// them. A record with no offset to apply, and none applied before, is the very same.
QList<PosData> onVideoClock(QList<PosData> records, const TillOffsets &offsets);

/// The records of a reply to the request for [from, to] (made with offsets' requestFrom and requestTo), on
/// the video's clock, without those that the wider request brought in: those whose time on the video's
/// clock lies outside the window. With no offset set, all of them as they came.
QList<PosData> windowOnVideoClock(
    QList<PosData> records, const TillOffsets &offsets, const QDateTime &from, const QDateTime &to);

/// The tills met in the search and exception results, each with its clock's offset, which the operator
/// sets (in seconds) in the "Tills" dialog. What it holds is kept in the settings file it is given, saved
/// at every change. One for the whole run (shared()), which QML reaches as the singleton Tills.
class TillClocks : public RowListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    /// A till's clock is held to be off by at most this much either way, in seconds.
    Q_PROPERTY(int limitSecs READ limitSecs CONSTANT)
public:
    enum Role {
        TillIdRole = Qt::UserRole + 1,
        TillNameRole,
        OffsetMsRole,
        /// The offset in seconds as the dialog shows it: "20", "-3.5", "0".
        OffsetTextRole,
    };

    explicit TillClocks(QObject *parent = nullptr);

    /// The tills of the settings file, made on first use; every change is saved there.
    static TillClocks *shared();

    /// Replaces the tills with those kept in settings, and saves every later change there (none: not saved).
    void useSettings(QSettings *settings);
    TillOffsets offsets() const { return m_offsets; }
    int count() const { return m_rows.size(); }
    int limitSecs() const;

    /// Adds the tills of records not met before, in the order of their names.
    void meet(const QList<PosData> &records);

    /// Sets the offset of the till at row to seconds (kept to the millisecond). False for a row that does not
    /// exist or a value beyond limitSecs either way; then nothing changes.
    Q_INVOKABLE bool setOffsetSecs(int row, double seconds);
    /// Sets the offset of a till by its id and name, meeting it first if need be.
    bool setOffsetMs(const QString &tillId, const QString &tillName, qint64 ms);
    /// The row of the till; -1 when it has not been met.
    Q_INVOKABLE int rowOf(const QString &tillId, const QString &tillName) const;
    /// "20", "-3.5": milliseconds as seconds, without trailing zeros.
    Q_INVOKABLE QString secondsText(double ms) const;

signals:
    void countChanged();
    /// An offset was set or cleared: every time on the video's clock may have moved.
    void offsetsChanged();

protected:
    int size() const override { return m_rows.size(); }
    QVariant value(int row, int role) const override;

private:
    struct Till {
        QString id;
        QString name;
        qint64 offsetMs = 0;
    };

    void save();
    void setOffset(int row, qint64 ms);
    /// Inserts till in the order of names; its row.
    int insert(const Till &till);

    QVector<Till> m_rows;
    TillOffsets m_offsets;
    QSettings *m_settings = nullptr;
};
