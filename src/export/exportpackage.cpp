#include "export/exportpackage.h"

#include "core/sha256.h"
#include "core/utils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <algorithm>
#include <map>

namespace {

const QLatin1String kVideoSuffix(".mp4");
const QLatin1String kChecksumSuffix(".sha256");
const QLatin1String kManifestSuffix(".manifest.json");
const QChar kWordJoiner(0x2060);

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f);
}

/// One line of a receipt for the text track. Subtitle readers take "{\…}", "<b>" and "\N" for markup
/// and a blank line for the end of the entry; a word joiner after "{", "<" and "\" and a no-break space
/// on an empty line keep the text as printed, on screen and in the track.
QString trackLine(const QString &line)
{
    QString out;
    out.reserve(line.size() + 4);
    for (const QChar c : line) {
        if (c == QLatin1Char('\r'))
            continue;
        out.append(isControl(c) ? QChar(QLatin1Char(' ')) : c);
        if (c == QLatin1Char('{') || c == QLatin1Char('<') || c == QLatin1Char('\\'))
            out.append(kWordJoiner);
    }
    // A line "-->" would read as the timing line of a new entry.
    out.replace(QLatin1String("-->"), QStringLiteral("--%1>").arg(kWordJoiner));
    if (out.trimmed().isEmpty())
        return QString(QChar(0xA0));
    return out;
}

/// Receipts sharing one instant, at their offset within the clip.
struct Moment {
    qint64 offsetMs;
    QList<const PosData *> receipts;
};

/// The receipts in time order, those of one instant together, at offsets clamped into the clip. A
/// receipt without a time counts from the start, as in the subtitle script.
std::vector<Moment> momentsOf(const QDateTime &start, qint64 lengthMs, const QList<PosData> &records)
{
    std::map<qint64, Moment> byOffset;
    for (const PosData &record : records) {
        qint64 offset = start.isValid() && record.createdAt.isValid() ? start.msecsTo(record.createdAt) : 0;
        offset = std::clamp<qint64>(offset, 0, lengthMs);
        Moment &moment = byOffset[offset];
        moment.offsetMs = offset;
        moment.receipts.append(&record);
    }
    std::vector<Moment> moments;
    for (auto &entry : byOffset) {
        if (entry.first < lengthMs)
            moments.push_back(entry.second);
    }
    return moments;
}

QString srtTime(qint64 ms)
{
    return QStringLiteral("%1:%2:%3,%4")
        .arg(ms / 3600000, 2, 10, QLatin1Char('0'))
        .arg(ms / 60000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

/// A value of FFmpeg's metadata format: these characters would end or comment out the entry.
QString metadataValue(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c == QLatin1Char('=') || c == QLatin1Char(';') || c == QLatin1Char('#') || c == QLatin1Char('\\'))
            out.append(QLatin1Char('\\'));
        out.append(isControl(c) ? QChar(QLatin1Char(' ')) : c);
    }
    return out;
}

QString firstLine(const QString &content)
{
    for (const QStringRef &line : content.splitRef(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty())
            return line.trimmed().toString();
    }
    return QString();
}

} // namespace

PackagePaths PackagePaths::forVideo(const QString &chosen)
{
    QString base = chosen;
    if (base.endsWith(kVideoSuffix, Qt::CaseInsensitive))
        base.chop(kVideoSuffix.size());
    PackagePaths paths;
    paths.video = base + kVideoSuffix;
    paths.original = base + QLatin1String(".original.mkv");
    paths.script = base + QLatin1String(".ass");
    paths.manifest = base + kManifestSuffix;
    paths.checksums = base + kChecksumSuffix;
    return paths;
}

PackagePaths PackagePaths::forAnyFile(const QString &path)
{
    for (const QLatin1String suffix :
        { kChecksumSuffix, kManifestSuffix, QLatin1String(".original.mkv"), QLatin1String(".ass"), kVideoSuffix }) {
        if (path.endsWith(suffix, Qt::CaseInsensitive))
            return forVideo(path.left(path.size() - suffix.size()));
    }
    return forVideo(path);
}

QString PackagePaths::directory() const
{
    return QFileInfo(video).absolutePath();
}

QStringList PackagePaths::covered() const
{
    return { original, video, script, manifest };
}

QString safeFileName(const QString &name)
{
    static const QString forbidden = QStringLiteral("<>:\"/\\|?*");
    QString out = name;
    for (QChar &c : out) {
        if (isControl(c) || forbidden.contains(c))
            c = QLatin1Char('_');
    }
    return out;
}

QString suggestedVideoFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    return folder.isEmpty() || !QFileInfo(folder).isDir() ? QDir::homePath() : folder;
}

QString videoPathIn(const QString &folder, const QString &cameraName, const QDateTime &from, const QDateTime &to)
{
    return QDir(folder).filePath(
        QStringLiteral("%1-%2-%3").arg(safeFileName(cameraName), Utils::downloadStamp(from), Utils::downloadStamp(to)));
}

QString suggestedVideoPath(const QString &cameraName, const QDateTime &from, const QDateTime &to)
{
    return videoPathIn(suggestedVideoFolder(), cameraName, from, to);
}

QList<QPair<QString, QString>> parseChecksums(const QByteArray &text)
{
    QList<QPair<QString, QString>> entries;
    for (QByteArray line : text.split('\n')) {
        const bool escaped = line.startsWith('\\');
        if (escaped)
            line.remove(0, 1);
        const QByteArray hex = line.left(64);
        const bool isHex
            = hex.size() == 64 && std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(uchar(c)); });
        if (!isHex || line.size() < 67 || line.at(64) != ' ' || (line.at(65) != ' ' && line.at(65) != '*'))
            continue;
        QString name = QString::fromUtf8(line.mid(66));
        if (escaped) {
            QString plain;
            for (int i = 0; i < name.size(); ++i) {
                if (name.at(i) == QLatin1Char('\\') && i + 1 < name.size()) {
                    const QChar next = name.at(++i);
                    plain.append(next == QLatin1Char('n') ? QChar(QLatin1Char('\n'))
                            : next == QLatin1Char('r')    ? QChar(QLatin1Char('\r'))
                                                          : next);
                } else {
                    plain.append(name.at(i));
                }
            }
            name = plain;
        }
        entries.append({ name, QString::fromLatin1(hex.toLower()) });
    }
    return entries;
}

QByteArray receiptsTrack(const QDateTime &start, qint64 lengthMs, const QList<PosData> &records)
{
    const std::vector<Moment> moments = momentsOf(start, lengthMs, records);
    QString out;
    for (size_t i = 0; i < moments.size(); ++i) {
        const qint64 end = i + 1 < moments.size() ? moments[i + 1].offsetMs : lengthMs;
        QStringList lines;
        for (const PosData *receipt : moments[i].receipts) {
            if (!lines.isEmpty())
                lines << QString(QChar(0xA0)); // receipts of one instant, apart
            for (const QString &line : receipt->content.split(QLatin1Char('\n')))
                lines << trackLine(line);
        }
        out += QStringLiteral("%1\n%2 --> %3\n%4\n\n")
                   .arg(QString::number(i + 1), srtTime(moments[i].offsetMs), srtTime(end), lines.join('\n'));
    }
    return out.toUtf8();
}

QByteArray receiptChapters(const QDateTime &start, qint64 lengthMs, const QList<PosData> &records)
{
    const std::vector<Moment> moments = momentsOf(start, lengthMs, records);
    QString out = QStringLiteral(";FFMETADATA1\n");
    const auto chapter = [&out](qint64 from, qint64 to, const QString &title) {
        out += QStringLiteral("[CHAPTER]\nTIMEBASE=1/1000\nSTART=%1\nEND=%2\ntitle=%3\n")
                   .arg(QString::number(from), QString::number(to), metadataValue(title));
    };
    // A player expects the chapters to cover the clip from its start.
    if (moments.empty() || moments.front().offsetMs > 0)
        chapter(0, moments.empty() ? lengthMs : moments.front().offsetMs, QObject::tr("Start of the clip"));
    for (size_t i = 0; i < moments.size(); ++i) {
        QStringList titles;
        for (const PosData *receipt : moments[i].receipts) {
            const QString time = receipt->createdAt.isValid()
                ? receipt->createdAt.toLocalTime().toString(QStringLiteral("HH:mm:ss"))
                : QObject::tr("(no time)");
            titles << time + QLatin1Char(' ') + firstLine(receipt->content);
        }
        chapter(moments[i].offsetMs, i + 1 < moments.size() ? moments[i + 1].offsetMs : lengthMs,
            titles.join(QLatin1String(" | ")));
    }
    return out.toUtf8();
}

ManifestSummary readManifest(const QByteArray &json)
{
    const QJsonObject manifest = QJsonDocument::fromJson(json).object();
    const QJsonObject camera = manifest.value("camera").toObject();
    const QJsonObject window = manifest.value("window").toObject();
    ManifestSummary summary;
    summary.camera = { camera.value("id").toString(), camera.value("name").toString() };
    summary.windowStart = QDateTime::fromString(window.value("startLocal").toString(), Qt::ISODateWithMs);
    summary.windowEnd = QDateTime::fromString(window.value("endLocal").toString(), Qt::ISODateWithMs);
    for (const QJsonValue &value : manifest.value("receipts").toArray()) {
        const QJsonObject entry = value.toObject();
        PosData receipt;
        receipt.content = entry.value("text").toString();
        receipt.receivedAtText = entry.value("receivedAt").toString();
        // Read as the POS server's reply is read, then put where the video shows it, as the export did.
        receipt.tillClockOffsetMs = qint64(entry.value("tillClockOffsetMs").toDouble());
        receipt.createdAt
            = QDateTime::fromString(receipt.receivedAtText, Qt::ISODate).addMSecs(-receipt.tillClockOffsetMs);
        for (const QJsonValue &stream : entry.value("cameras").toArray())
            receipt.streams.append({ stream["id"].toString(), stream["name"].toString() });
        summary.receipts.append(receipt);
    }
    return summary;
}

PackageCheck::PackageCheck(QObject *parent)
    : QObject(parent)
{
    connect(&m_hasher, &FileHasher::finished, this, &PackageCheck::report);
}

void PackageCheck::start(const QString &path)
{
    m_paths = PackagePaths::forAnyFile(path);
    m_expected.clear();
    m_problems.clear();
    const QDir dir(m_paths.directory());

    QFile checksums(m_paths.checksums);
    if (checksums.open(QIODevice::ReadOnly)) {
        for (const auto &entry : parseChecksums(checksums.readAll()))
            m_expected.append({ dir.filePath(entry.first), entry.second });
    }
    // The manifest names the digests of the clip, the video and the script once more: with the checksum
    // file gone, they still tell whether those three changed.
    QFile manifest(m_paths.manifest);
    if (manifest.open(QIODevice::ReadOnly)) {
        const QJsonArray files = QJsonDocument::fromJson(manifest.readAll()).object().value("files").toArray();
        for (const QJsonValue &file : files) {
            const QJsonObject entry = file.toObject();
            m_expected.append({ dir.filePath(entry.value("name").toString()), entry.value("sha256").toString() });
        }
    }
    for (const QString &file : { m_paths.checksums, m_paths.manifest }) {
        if (!QFileInfo::exists(file))
            m_problems << tr("Missing: %1").arg(QFileInfo(file).fileName());
    }
    QStringList toHash;
    for (const auto &entry : qAsConst(m_expected)) {
        if (!toHash.contains(entry.first))
            toHash << entry.first;
    }
    m_hasher.start(toHash);
}

bool PackageCheck::isRunning() const
{
    return m_hasher.isRunning();
}

void PackageCheck::report()
{
    const QHash<QString, QString> digests = m_hasher.digests();
    QStringList checked;
    for (const auto &entry : qAsConst(m_expected)) {
        const QString name = QFileInfo(entry.first).fileName();
        QString problem;
        if (!QFileInfo::exists(entry.first))
            problem = tr("Missing: %1").arg(name);
        else if (digests.value(entry.first) != entry.second)
            problem = tr("Changed: %1").arg(name);
        if (!problem.isEmpty() && !m_problems.contains(problem))
            m_problems << problem;
        if (!checked.contains(name))
            checked << name;
    }
    if (m_expected.isEmpty() && m_problems.isEmpty())
        m_problems << tr("No checksums found in %1").arg(QFileInfo(m_paths.checksums).fileName());
    if (m_problems.isEmpty()) {
        emit finished(true, tr("Intact: %1 match their checksums.").arg(checked.join(QLatin1String(", "))));
        return;
    }
    emit finished(false, tr("Not intact:\n%1").arg(m_problems.join('\n')));
}
