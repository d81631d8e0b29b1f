#pragma once
#include "core/common.h"
#include "core/files.h"
#include "core/sha256.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>

/// The files of one export, all named after the review copy the operator chose, "DIR/NAME.mp4".
struct PackagePaths {
    /// From the chosen video path; a name without the ".mp4" suffix gets it added.
    static PackagePaths forVideo(const QString &chosen);
    /// From any file of a package: its checksums, its manifest or its video.
    static PackagePaths forAnyFile(const QString &path);

    QString directory() const;
    /// The four files that the checksums cover, in the order the checksum file lists them.
    QStringList covered() const;

    QString video;
    QString original;
    QString script;
    QString manifest;
    QString checksums;
};

/// The name with every character replaced that Windows or Linux does not take in a file name (and the
/// trailing dots and blanks that Windows drops), so that any camera name makes a usable name.
QString safeFileName(const QString &name);

/// Where exports are first suggested: the user's Videos folder, else home.
QString suggestedVideoFolder();

/// The name of the export of a camera's window in folder, without the suffix: the camera and the window.
QString videoPathIn(const QString &folder, const QString &cameraName, const QDateTime &from, const QDateTime &to);

/// Where an export of a camera's window is first suggested, in suggestedVideoFolder().
QString suggestedVideoPath(const QString &cameraName, const QDateTime &from, const QDateTime &to);

/// The entries of a checksum file in sha256sum's format: file name and hex digest. Lines that are no
/// such entry are left out.
QList<QPair<QString, QString>> parseChecksums(const QByteArray &text);

/// The receipts as SubRip text for the review copy's text track: each receipt's lines from its time
/// until the next receipt's or the end of the clip, as printed. Times count from start.
QByteArray receiptsTrack(const QDateTime &start, qint64 lengthMs, const QList<PosData> &records);

/// FFmpeg metadata with the review copy's chapters: one from the start of the clip, then one at each
/// receipt's time, titled with that time and the receipt's first line.
QByteArray receiptChapters(const QDateTime &start, qint64 lengthMs, const QList<PosData> &records);

/// What a package's manifest says of its review copy: the camera, the window and the camera's receipts
/// in it.
struct ManifestSummary {
    StreamData camera;
    /// In the local time, with the offset, that the manifest wrote.
    QDateTime windowStart;
    QDateTime windowEnd;
    QList<PosData> receipts;
};

/// Reads a manifest as an export writes it; what cannot be read stays empty or invalid.
ManifestSummary readManifest(const QByteArray &json);

/// Checks an export package again against its checksum file and its manifest: says "intact" or names
/// each file that changed or is missing.
class PackageCheck : public QObject
{
    Q_OBJECT
public:
    explicit PackageCheck(QObject *parent = nullptr);

    /// path: the package's checksum file or manifest (any of its files will do).
    void start(const QString &path);
    bool isRunning() const;

signals:
    void finished(bool intact, const QString &report);

private:
    void report();

    PackagePaths m_paths;
    /// What each file's digest should be, from the checksum file and from the manifest.
    QList<QPair<QString, QString>> m_expected;
    QStringList m_problems;
    FileHasher m_hasher;
};
