#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

/// The simulated shop: its cameras and their recordings, its tills and their receipts. Everything is a
/// pure function of the configuration, so a test can build the same site and know what the servers hold.
namespace simdata {

struct Config {
    quint64 seed = 1;
    int days = 7;
    /// The reference time ("now"), milliseconds since the epoch: data ends here, the latest recording runs here.
    qint64 nowMs = 0;
    /// The site's offset from UTC; opening hours and the times printed on receipts are site time.
    qint64 tzOffsetMs = 0;
};

struct Camera {
    QString id; ///< a GUID in braces, lower case, as the video server lists it
    QString name;
    QString physicalId; ///< MAC address
    QString vendor;
    QString model;
    int logicalId = 0;
    bool continuous = false; ///< records around the clock rather than on motion
};

struct Period {
    qint64 startMs = 0;
    qint64 durationMs = 0; ///< -1 while it is still recording
    /// Where the period ends; a running one ends at the given present moment.
    qint64 endMs(qint64 presentMs) const { return durationMs < 0 ? presentMs : startMs + durationMs; }
};

struct Till {
    int id = 0;
    QString name;
    QString serial;
    QVector<int> cameras; ///< indexes into the camera list
    /// How far the till's clock is ahead of the site's: what it prints and what the POS server records
    /// as "received_at" are that much later than the moment the cameras show.
    qint64 clockAheadMs = 0;
};

/// What a generated receipt records; the exceptions a loss-prevention review looks for among the sales.
enum class ReceiptKind {
    Sale,
    Refund, ///< says REFUND, negative total, paid back in cash or to the card
    Void, ///< a sale cancelled before payment: VOID or CANCELLED, total 0.00
    NoSale, ///< the drawer opened with no items: NO SALE, no total, no payment
    Discount, ///< a sale with a DISCOUNT line
    PriceOverride, ///< a sale with one item's PRICE OVERRIDE
    Unknown, ///< read from a receipts file
};

struct Receipt {
    QByteArray json; ///< the transaction object exactly as served, compact
    QString text;
    QString foldedText; ///< for case-insensitive search
    std::optional<qint64> receivedAtMs; ///< absent when a loaded file gives no readable time
    ReceiptKind kind = ReceiptKind::Unknown;
    int till = -1; ///< index into the tills; -1 for a loaded receipt
    /// When it happened by the site's clock, which the cameras show; a till whose clock is off prints and
    /// sends another time. Absent for a loaded receipt.
    std::optional<qint64> siteMs;
    qint64 totalCents = 0; ///< the "total" served (0 where none is)
    bool cash = false; ///< paid, or paid back, in cash
};

/// What a POS query asks for; every given condition must hold.
struct ReceiptQuery {
    std::optional<QString> textContains;
    std::optional<qint64> receivedFromMs; ///< inclusive
    std::optional<qint64> receivedToMs; ///< inclusive
};

class Site
{
public:
    static Site generate(const Config &config);

    /// Replaces the receipts with the transactions of a JSON array of the served shape, kept in file order.
    bool loadReceipts(const QByteArray &json, QString *error);

    const Config &config() const { return m_config; }
    /// The video server's own id, a GUID in braces.
    const QString &serverId() const { return m_serverId; }
    const QVector<Camera> &cameras() const { return m_cameras; }
    /// The camera with that id, with or without braces, in any letter case; -1 if none.
    int cameraIndex(const QString &id) const;
    /// All periods of a camera, oldest first; the last one is still recording.
    const QVector<Period> &periods(int camera) const { return m_periods.at(camera); }
    /// The periods that share at least one millisecond with [fromMs, toMs] (both inclusive).
    QVector<Period> periodsOverlapping(
        int camera, qint64 fromMs, qint64 toMs, qint64 presentMs, bool newestFirst) const;
    const QVector<Till> &tills() const { return m_tills; }
    const QVector<Receipt> &receipts() const { return m_receipts; }
    /// Indexes of the receipts that match, in serving order.
    QVector<int> select(const ReceiptQuery &query) const;
    /// A JSON array of the given receipts.
    QByteArray receiptsJson(const QVector<int> &indexes) const;

private:
    Config m_config;
    QString m_serverId;
    QVector<Camera> m_cameras;
    QVector<QVector<Period>> m_periods;
    QVector<Till> m_tills;
    QVector<Receipt> m_receipts;
};

/// "2026-12-07T10:15:30.123Z"
QString formatUtc(qint64 ms);
/// Reads an ISO 8601 date-time; one without a zone is taken as UTC.
std::optional<qint64> parseIsoDateTime(const QString &text);
/// Case folding plus composition, so that "ÄPFEL", "äpfel" and a decomposed "a\u0308pfel" compare equal.
QString foldForSearch(const QString &text);

} // namespace simdata
