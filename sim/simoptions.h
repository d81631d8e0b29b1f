#pragma once
#include "httpauth.h"
#include "simdata.h"

#include <QString>
#include <QStringList>

#include <string>
#include <vector>

/// A request path as the fault options name it: exact, or a prefix when it ends in "*".
struct PathPattern {
    std::string path;
    bool prefix = false;
    bool matches(const std::string &requestPath) const;
};

struct PathFault {
    PathPattern pattern;
    int value = 0; ///< an HTTP status or milliseconds, depending on the option
};

/// Everything the command line can set; the defaults are what the login page expects.
struct SimOptions {
    int vmsPort = 7001;
    int posPort = 8000;
    httpauth::Account account { "admin", "Pelmo4826" };
    httpauth::Scheme scheme = httpauth::Scheme::Digest;
    simdata::Config data;
    QString receiptsFile;
    QString clipFile;
    std::string ffmpeg = "ffmpeg";
    std::string font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    std::vector<PathFault> failures;
    int delayMs = 0;
    std::vector<PathFault> delays;
    long long cutClipAfter = -1;
    std::vector<PathPattern> stalls;
    bool verbose = false;
    bool exitWithStdin = false;
    /// HTTPS on both ports, with the certificate and key of these files or, when they are empty, the
    /// simulator's own.
    bool tls = false;
    QString certificateFile;
    QString keyFile;
};

enum class ParseResult { Run, Help, Error };

/// Reads the arguments (the program name first). On Help the usage text, on Error the reason, is in *message.
ParseResult parseSimOptions(const QStringList &arguments, qint64 currentTimeMs, SimOptions *options, QString *message);

/// The site of seed over days up to now (ISO 8601 text), at tzOffsetMs from UTC, as tests build it.
simdata::Config siteConfig(quint64 seed, int days, const QString &now, qint64 tzOffsetMs);
/// The options that make the simulator hold the site of config.
QStringList siteArguments(const simdata::Config &config);
