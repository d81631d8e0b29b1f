#include "simoptions.h"

#include <QCommandLineParser>
#include <QDateTime>

#include <limits>

bool PathPattern::matches(const std::string &requestPath) const
{
    if (prefix)
        return requestPath.compare(0, path.size(), path) == 0;
    return requestPath == path;
}

namespace {

PathPattern pathPattern(const QString &text)
{
    PathPattern pattern;
    pattern.path = text.toStdString();
    if (!pattern.path.empty() && pattern.path.back() == '*') {
        pattern.path.pop_back();
        pattern.prefix = true;
    }
    return pattern;
}

bool readInteger(const QString &text, qint64 low, qint64 high, qint64 *value)
{
    bool ok = false;
    const qint64 number = text.trimmed().toLongLong(&ok, 10);
    if (!ok || number < low || number > high)
        return false;
    *value = number;
    return true;
}

/// "PATH=NUMBER", split at the last "=" so that a path may hold one.
bool readPathValue(const QString &text, qint64 low, qint64 high, PathFault *fault)
{
    const int at = text.lastIndexOf(QLatin1Char('='));
    qint64 value = 0;
    if (at <= 0 || !text.startsWith(QLatin1Char('/')) || !readInteger(text.mid(at + 1), low, high, &value))
        return false;
    fault->pattern = pathPattern(text.left(at));
    fault->value = int(value);
    return true;
}

} // namespace

ParseResult parseSimOptions(const QStringList &arguments, qint64 currentTimeMs, SimOptions *options, QString *message)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated video management server (VMS) and POS server for Tillmark, on 127.0.0.1.\n"
                       "PATH in the fault options is the decoded request path without the query;\n"
                       "a trailing * makes it a prefix. Fault options may be given several times.\n"
                       "Among the sales, each till has a few refunds, voids and no-sales a day, and now and\n"
                       "then a discount or a price override. Till 2's clock runs 20 s fast: its receipts'\n"
                       "printed time and received_at are 20 s later than the moment the cameras show."));
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Show this help."));
    const QCommandLineOption vmsPort(QStringLiteral("vms-port"), QStringLiteral("VMS port, 0 for a free one."),
        QStringLiteral("port"), QStringLiteral("7001"));
    const QCommandLineOption posPort(QStringLiteral("pos-port"), QStringLiteral("POS port, 0 for a free one."),
        QStringLiteral("port"), QStringLiteral("8000"));
    const QCommandLineOption user(
        QStringLiteral("user"), QStringLiteral("VMS user name."), QStringLiteral("name"), QStringLiteral("admin"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("VMS password."),
        QStringLiteral("password"), QStringLiteral("Pelmo4826"));
    const QCommandLineOption auth(QStringLiteral("auth"), QStringLiteral("VMS authentication: digest or basic."),
        QStringLiteral("scheme"), QStringLiteral("digest"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Seed of the generated data."),
        QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption days(QStringLiteral("days"), QStringLiteral("Days of data up to now (1-60)."),
        QStringLiteral("n"), QStringLiteral("7"));
    const QCommandLineOption now(QStringLiteral("now"),
        QStringLiteral("Reference time, ISO 8601 (default: the current time)."), QStringLiteral("datetime"));
    const QCommandLineOption tzOffset(QStringLiteral("tz-offset-ms"),
        QStringLiteral("Site offset from UTC in ms (default: this machine's offset at the reference time)."),
        QStringLiteral("ms"));
    const QCommandLineOption receiptsFile(QStringLiteral("receipts-file"),
        QStringLiteral("Serve the transactions of this JSON array instead."), QStringLiteral("path"));
    const QCommandLineOption clipFile(QStringLiteral("clip-file"),
        QStringLiteral("Serve this file's bytes for every clip instead of rendering."), QStringLiteral("path"));
    const QCommandLineOption ffmpeg(QStringLiteral("ffmpeg"), QStringLiteral("FFmpeg program that renders clips."),
        QStringLiteral("program"), QStringLiteral("ffmpeg"));
    const QCommandLineOption font(QStringLiteral("font"), QStringLiteral("Font file for the text in clips."),
        QStringLiteral("path"), QString::fromStdString(options->font));
    const QCommandLineOption fail(
        QStringLiteral("fail"), QStringLiteral("Answer PATH with this HTTP status."), QStringLiteral("PATH=STATUS"));
    const QCommandLineOption delayMs(QStringLiteral("delay-ms"), QStringLiteral("Delay every reply by N ms."),
        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption delay(
        QStringLiteral("delay"), QStringLiteral("Delay replies on PATH by MS ms more."), QStringLiteral("PATH=MS"));
    const QCommandLineOption cut(QStringLiteral("cut-clip-after"),
        QStringLiteral("Drop the connection after this many bytes of a clip."), QStringLiteral("bytes"));
    const QCommandLineOption stall(
        QStringLiteral("stall"), QStringLiteral("Never answer PATH until shutdown."), QStringLiteral("PATH"));
    const QCommandLineOption verbose(QStringLiteral("verbose"), QStringLiteral("Log every request to stderr."));
    const QCommandLineOption exitWithStdin(QStringLiteral("exit-with-stdin"),
        QStringLiteral("Stop when standard input ends (a parent that dies stops the servers too)."));
    const QCommandLineOption tls(QStringLiteral("tls"),
        QStringLiteral("Serve HTTPS on both ports, with --cert and --key or else with a self-signed certificate "
                       "made on the first start and kept for later ones."));
    const QCommandLineOption certificate(QStringLiteral("cert"),
        QStringLiteral("With --tls: the server's certificate (PEM; any chain after it)."), QStringLiteral("file"));
    const QCommandLineOption key(QStringLiteral("key"),
        QStringLiteral("With --tls: the certificate's private key (PEM)."), QStringLiteral("file"));
    parser.addOptions({ help, vmsPort, posPort, user, password, auth, seed, days, now, tzOffset, receiptsFile, clipFile,
        ffmpeg, font, fail, delayMs, delay, cut, stall, verbose, exitWithStdin, tls, certificate, key });

    if (!parser.parse(arguments)) {
        *message = parser.errorText();
        return ParseResult::Error;
    }
    if (parser.isSet(help)) {
        *message = parser.helpText();
        return ParseResult::Help;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *message = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst());
        return ParseResult::Error;
    }

    auto invalid = [&](const QCommandLineOption &option, const QString &value) {
        *message = QStringLiteral("invalid value '%1' for --%2").arg(value, option.names().constLast());
        return ParseResult::Error;
    };
    qint64 number = 0;
    if (!readInteger(parser.value(vmsPort), 0, 65535, &number))
        return invalid(vmsPort, parser.value(vmsPort));
    options->vmsPort = int(number);
    if (!readInteger(parser.value(posPort), 0, 65535, &number))
        return invalid(posPort, parser.value(posPort));
    options->posPort = int(number);

    options->account.user = parser.value(user).toStdString();
    options->account.password = parser.value(password).toStdString();
    const QString scheme = parser.value(auth).toLower();
    if (scheme == QLatin1String("digest"))
        options->scheme = httpauth::Scheme::Digest;
    else if (scheme == QLatin1String("basic"))
        options->scheme = httpauth::Scheme::Basic;
    else
        return invalid(auth, parser.value(auth));

    bool ok = false;
    options->data.seed = parser.value(seed).toULongLong(&ok, 10);
    if (!ok)
        return invalid(seed, parser.value(seed));
    if (!readInteger(parser.value(days), 1, 60, &number))
        return invalid(days, parser.value(days));
    options->data.days = int(number);

    options->data.nowMs = currentTimeMs;
    if (parser.isSet(now)) {
        const auto parsed = simdata::parseIsoDateTime(parser.value(now));
        if (!parsed)
            return invalid(now, parser.value(now));
        options->data.nowMs = *parsed;
    }
    if (parser.isSet(tzOffset)) {
        // Real zones lie within -12 h and +14 h.
        if (!readInteger(parser.value(tzOffset), -12 * 3600000LL, 14 * 3600000LL, &number))
            return invalid(tzOffset, parser.value(tzOffset));
        options->data.tzOffsetMs = number;
    } else {
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(options->data.nowMs, Qt::LocalTime);
        options->data.tzOffsetMs = qint64(at.offsetFromUtc()) * 1000;
    }

    options->receiptsFile = parser.value(receiptsFile);
    options->clipFile = parser.value(clipFile);
    options->ffmpeg = parser.value(ffmpeg).toStdString();
    options->font = parser.value(font).toStdString();

    for (const QString &value : parser.values(fail)) {
        PathFault fault;
        if (!readPathValue(value, 100, 599, &fault))
            return invalid(fail, value);
        options->failures.push_back(fault);
    }
    if (!readInteger(parser.value(delayMs), 0, 3600000, &number))
        return invalid(delayMs, parser.value(delayMs));
    options->delayMs = int(number);
    for (const QString &value : parser.values(delay)) {
        PathFault fault;
        if (!readPathValue(value, 0, 3600000, &fault))
            return invalid(delay, value);
        options->delays.push_back(fault);
    }
    if (parser.isSet(cut)) {
        if (!readInteger(parser.value(cut), 0, std::numeric_limits<qint64>::max(), &number))
            return invalid(cut, parser.value(cut));
        options->cutClipAfter = number;
    }
    for (const QString &value : parser.values(stall)) {
        if (!value.startsWith(QLatin1Char('/')))
            return invalid(stall, value);
        options->stalls.push_back(pathPattern(value));
    }
    options->verbose = parser.isSet(verbose);
    options->exitWithStdin = parser.isSet(exitWithStdin);

    options->tls = parser.isSet(tls);
    options->certificateFile = parser.value(certificate);
    options->keyFile = parser.value(key);
    if (parser.isSet(certificate) != parser.isSet(key)) {
        *message = QStringLiteral("--cert and --key go together");
        return ParseResult::Error;
    }
    if (parser.isSet(certificate) && !options->tls) {
        *message = QStringLiteral("--cert and --key need --tls");
        return ParseResult::Error;
    }
    return ParseResult::Run;
}

simdata::Config siteConfig(quint64 seed, int days, const QString &now, qint64 tzOffsetMs)
{
    simdata::Config config;
    config.seed = seed;
    config.days = days;
    config.nowMs = simdata::parseIsoDateTime(now).value_or(0);
    config.tzOffsetMs = tzOffsetMs;
    return config;
}

QStringList siteArguments(const simdata::Config &config)
{
    return { QStringLiteral("--seed"), QString::number(config.seed), QStringLiteral("--days"),
        QString::number(config.days), QStringLiteral("--now"), simdata::formatUtc(config.nowMs),
        QStringLiteral("--tz-offset-ms"), QString::number(config.tzOffsetMs) };
}
