#include "pos/posdownloader.h"

#include "core/files.h"
#include "net/certificatetrust.h"
#include "net/posclient.h"
#include "net/request.h"
#include "pos/windowreceipts.h"

#include <QDebug>
#include <QFileInfo>
#include <QNetworkReply>
#include <QStringRef>
#include <QVector>

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

namespace {

const char kScriptHeader[] = "\n"
                             "[Script Info]\n"
                             "Title: Ostrel Tillmark\n"
                             "ScriptType: v4.00+\n"
                             "WrapStyle: 0\n"
                             "ScaledBorderAndShadow: yes\n"
                             "YCbCr Matrix: None\n"
                             "\n"
                             "[V4+ Styles]\n"
                             "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, "
                             "BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, "
                             "BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
                             "Style: Default,Arial,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,"
                             "1,1,1,7,10,10,10,1\n"
                             "\n"
                             "[Events]\n"
                             "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

/// The most receipt lines the picture shows at once.
const int kMaxRows = 11;
const qint64 kFirstLineHoldMs = 3000;
const qint64 kNextLineHoldMs = 1000;

/// Appends a time field as a zero-padded two-digit (or longer) decimal; a negative value keeps its sign
/// in front of the digits.
void appendField(QString &out, qint64 value)
{
    char digits[24];
    int n = 0;
    quint64 magnitude = value < 0 ? quint64(0) - quint64(value) : quint64(value);
    do {
        digits[n++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    if (value < 0)
        out.append(QLatin1Char('-'));
    else if (n < 2)
        out.append(QLatin1Char('0'));
    while (n > 0)
        out.append(QLatin1Char(digits[--n]));
}

void appendTime(QString &out, qint64 ms)
{
    const qint64 hours = ms / 3600000;
    const qint64 minutes = ms / 60000 - 60 * hours;
    const qint64 seconds = ms / 1000 - 60 * (ms / 60000);
    appendField(out, hours);
    out.append(QLatin1Char(':'));
    appendField(out, minutes);
    out.append(QLatin1Char(':'));
    appendField(out, seconds);
    out.append(QLatin1String(".00"));
}

/// A receipt line as the script must hold it to be drawn as printed: braces escaped, so that they open
/// no override block; a word joiner after each backslash, so that none starts an escape such as "\N";
/// control characters, which the renderer would not show, as spaces.
QString escapedLine(const QString &line)
{
    // Unicode's control characters (category Cc), without a table lookup.
    const auto isControl = [](QChar c) { return c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f); };
    const auto special = [&isControl](QChar c) {
        return c == QLatin1Char('{') || c == QLatin1Char('}') || c == QLatin1Char('\\') || isControl(c);
    };
    if (std::none_of(line.begin(), line.end(), special))
        return line;
    QString out;
    out.reserve(line.size() + 8);
    for (const QChar c : line) {
        if (c == QLatin1Char('{') || c == QLatin1Char('}')) {
            out.append(QLatin1Char('\\'));
            out.append(c);
        } else if (c == QLatin1Char('\\')) {
            out.append(c);
            out.append(QChar(0x2060));
        } else {
            out.append(isControl(c) ? QChar(QLatin1Char(' ')) : c);
        }
    }
    return out;
}

/// The lines of one record: they share a start, so they are active together from it until each ends.
struct Receipt {
    qint64 startMs;
    int firstPair;
    int endPair;
};

} // namespace

QString _formatTime(qint64 ms)
{
    QString out;
    out.reserve(12);
    appendTime(out, ms);
    return out;
}

QString _convertToAss(QDateTime start, const QList<PosData> &records)
{
    // Line pairs in building order. Each record's display starts no earlier than the end of the one
    // before it, so endMs strictly increases along this order: it already is the order by endMs.
    QVector<LinePair> pairs;
    std::vector<Receipt> receipts;
    receipts.reserve(size_t(records.size()));
    const qint64 startEpochMs = start.isValid() ? start.toMSecsSinceEpoch() : 0;
    qint64 previousEnd = 0;
    for (const PosData &record : records) {
        const qint64 off
            = start.isValid() && record.createdAt.isValid() ? record.createdAt.toMSecsSinceEpoch() - startEpochMs : 0;
        const qint64 base = off >= previousEnd ? off : previousEnd;
        Receipt receipt { off, pairs.size(), 0 };
        qint64 line = 0;
        for (const QStringRef &piece : record.content.splitRef(QLatin1Char('\n'))) {
            pairs.append({ off, base + kFirstLineHoldMs + kNextLineHoldMs * line,
                line == 0 ? kFirstLineHoldMs : kNextLineHoldMs, piece.trimmed().toString() });
            ++line;
        }
        receipt.endPair = pairs.size();
        previousEnd = pairs.constLast().endMs;
        receipts.push_back(receipt);
    }

    std::vector<qint64> points;
    points.reserve(size_t(pairs.size()) * 2);
    QVector<QString> shown;
    shown.reserve(pairs.size());
    for (const LinePair &pair : qAsConst(pairs)) {
        points.push_back(pair.startMs);
        points.push_back(pair.endMs);
        qDebug() << pair.startMs << "-" << pair.endMs << ":" << pair.text << " (" << pair.holdMs << ")";
        shown.append(escapedLine(pair.text));
    }
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());

    QString script = QString::fromLatin1(kScriptHeader);
    if (points.size() < 2)
        return script;

    // Walking every pair for every event would be quadratic. Instead, as t grows: the pairs with
    // endMs > t are those from index firstLive on (endMs increases with the index), and among them
    // the active ones are exactly the pairs of receipts that have started (startMs <= t). The started
    // receipts are kept in index order; those wholly before firstLive are dropped from the front.
    // Every receipt visited yields at least one line, so an event visits at most kMaxRows receipts.
    std::vector<int> byStart(receipts.size());
    for (size_t i = 0; i < byStart.size(); ++i)
        byStart[i] = int(i);
    std::stable_sort(byStart.begin(), byStart.end(),
        [&receipts](int a, int b) { return receipts[size_t(a)].startMs < receipts[size_t(b)].startMs; });
    size_t nextToStart = 0;
    std::set<int> started;
    int firstLive = 0;

    // The script of a long window runs to tens of megabytes: find every event's lines first, so that
    // the text is written once into storage of its final size.
    QString stamps;
    std::vector<int> stampAt;
    stampAt.reserve(points.size() + 1);
    for (qint64 point : points) {
        stampAt.push_back(stamps.size());
        appendTime(stamps, point);
    }
    stampAt.push_back(stamps.size());
    const QLatin1String eventStart("Dialogue: 0,");
    const QLatin1String eventMiddle(",Default,,0,0,0,,");
    const QLatin1String lineBreak("\\N");

    std::vector<int> rows;
    std::vector<size_t> rowsAt;
    rowsAt.reserve(points.size());
    qsizetype length = script.size();
    for (size_t k = 1; k < points.size(); ++k) {
        const qint64 t = points[k - 1];
        while (firstLive < pairs.size() && pairs.at(firstLive).endMs <= t)
            ++firstLive;
        while (nextToStart < byStart.size() && receipts[size_t(byStart[nextToStart])].startMs <= t)
            started.insert(byStart[nextToStart++]);
        while (!started.empty() && receipts[size_t(*started.begin())].endPair <= firstLive)
            started.erase(started.begin());

        rowsAt.push_back(rows.size());
        int count = 0;
        for (auto it = started.begin(); it != started.end() && count < kMaxRows; ++it) {
            const Receipt &receipt = receipts[size_t(*it)];
            for (int p = std::max(receipt.firstPair, firstLive); p < receipt.endPair && count < kMaxRows; ++p) {
                rows.push_back(p);
                length += shown.at(p).size() + lineBreak.size();
                ++count;
            }
        }
        length += eventStart.size() + (stampAt[k + 1] - stampAt[k - 1]) + 1 + eventMiddle.size() + 1;
    }
    rowsAt.push_back(rows.size());

    script.reserve(int(length));
    for (size_t k = 1; k < points.size(); ++k) {
        script.append(eventStart);
        script.append(stamps.midRef(stampAt[k - 1], stampAt[k] - stampAt[k - 1]));
        script.append(QLatin1Char(','));
        script.append(stamps.midRef(stampAt[k], stampAt[k + 1] - stampAt[k]));
        script.append(eventMiddle);
        for (size_t r = rowsAt[k - 1]; r < rowsAt[k]; ++r) {
            script.append(shown.at(rows[r]));
            script.append(lineBreak);
        }
        script.append(QLatin1Char('\n'));
    }
    return script;
}

PosDownloader::PosDownloader(QObject *parent)
    : QObject(parent)
    , m_client(PosClient::shared())
{
}

PosDownloader::~PosDownloader()
{
    cancel();
}

PosClient *PosDownloader::client() const
{
    return m_client;
}

void PosDownloader::setClient(PosClient *client)
{
    m_client = client;
}

const QList<PosData> &PosDownloader::records() const
{
    return m_records;
}

const QByteArray &PosDownloader::script() const
{
    return m_script;
}

void PosDownloader::cancel()
{
    const QList<QPointer<QNetworkReply>> replies = m_replies;
    m_replies.clear();
    for (QNetworkReply *reply : replies) {
        if (!reply)
            continue;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

bool PosDownloader::lastFailureWasWrite() const
{
    return m_lastFailureWasWrite;
}

QString PosDownloader::peerFingerprint() const
{
    return m_peerFingerprint;
}

QString PosDownloader::convertToASS(QDateTime start, const QList<PosData> &records) const
{
    return _convertToAss(start, records);
}

void PosDownloader::downloadByISODate(QDateTime from, QDateTime to, QString streamId)
{
    download(from, to, streamId);
}

void PosDownloader::downloadVideoWithPos(QString, QDateTime, QDateTime) { }

void PosDownloader::download(QDateTime from, QDateTime to, QString streamId, const TillOffsets &offsets)
{
    qDebug() << "Download from" << from.toString(Qt::ISODate) << "to" << to.toString(Qt::ISODate);
    if (!m_client) {
        m_lastFailureWasWrite = false;
        emit errorOccured(tr("No POS server is set."));
        return;
    }
    const QString url = m_client->windowUrl(offsets.requestFrom(from), offsets.requestTo(to));
    qDebug() << url;
    // Several downloads may run at once, each with its own window start and camera.
    auto sent = std::make_shared<QPointer<QNetworkReply>>();
    QNetworkReply *reply = m_client->send(
        url, this,
        [this, from, to, streamId, offsets, sent](const QByteArray &body) {
            m_replies.removeAll(nullptr);
            const QString fingerprint = CertificateTrust::fingerprintOf(sent->data());
            WindowReceipts receipts = readWindowReceipts(body, from, to, streamId, offsets);
            QString error;
            m_lastFailureWasWrite = !writeScript(receipts.script, &error);
            if (m_lastFailureWasWrite) {
                emit errorOccured(error);
                return;
            }
            m_records.swap(receipts.records);
            m_script.swap(receipts.script);
            m_peerFingerprint = fingerprint;
            emit posDownloaded();
        },
        [this](const QString &message, QNetworkReply::NetworkError) {
            m_replies.removeAll(nullptr);
            m_lastFailureWasWrite = false;
            emit errorOccured(message);
        });
    *sent = reply;
    m_replies.append(reply);
}

bool PosDownloader::writeScript(const QByteArray &script, QString *error)
{
    // FFmpeg reads this file next: a script cut short, or one left over from an earlier export,
    // would burn the wrong receipts into the video.
    const QString path = QStringLiteral("sub.ass");
    const QString failure = writeWholeFile(path, script);
    if (!failure.isEmpty())
        *error = tr("Can't write the subtitle file \"%1\": %2").arg(QFileInfo(path).absoluteFilePath(), failure);
    return failure.isEmpty();
}
