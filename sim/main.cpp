#include "simdata.h"
#include "simoptions.h"
#include "simserver.h"
#include "simtls.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstdio>

#include <thread>

#include <pthread.h>
#include <unistd.h>

namespace {

int fail(const QString &message, int code)
{
    std::fprintf(stderr, "tillmark-sim: %s\n", qPrintable(message));
    return code;
}

} // namespace

int main(int argc, char **argv)
{
    // Only for decoding the arguments, the help text and the data folder; the servers run on their own threads.
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tillmark-sim"));

    SimOptions options;
    QString message;
    switch (parseSimOptions(application.arguments(), QDateTime::currentMSecsSinceEpoch(), &options, &message)) {
    case ParseResult::Help:
        std::fputs(qPrintable(message), stdout);
        return 0;
    case ParseResult::Error:
        return fail(message + QStringLiteral(" (see --help)"), 2);
    case ParseResult::Run:
        break;
    }

    simdata::Site site = simdata::Site::generate(options.data);
    if (!options.receiptsFile.isEmpty()) {
        QFile file(options.receiptsFile);
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1: %2").arg(options.receiptsFile, file.errorString()), 2);
        if (!site.loadReceipts(file.readAll(), &message))
            return fail(QStringLiteral("%1: %2").arg(options.receiptsFile, message), 2);
    }
    if (!options.clipFile.isEmpty() && !QFileInfo(options.clipFile).isReadable())
        return fail(QStringLiteral("cannot read %1").arg(options.clipFile), 2);

    tlscert::Pem tls;
    if (options.tls) {
        QString note;
        const auto pem = options.certificateFile.isEmpty()
            ? simtls::ownCertificate(simtls::defaultFolder(), &note, &message)
            : simtls::readFiles(options.certificateFile, options.keyFile, &message);
        if (!pem)
            return fail(message, 2);
        if (!note.isEmpty())
            std::fprintf(stderr, "tillmark-sim: %s\n", qPrintable(note));
        tls = *pem;
    }

    // Blocked before any server thread exists, so that every thread inherits the mask and only
    // sigwait() below takes the stop signals; a write to a client that has gone must not kill us.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (options.exitWithStdin) {
        // The reader inherits the blocked mask, so the signal it sends goes to sigwait() below.
        std::thread([] {
            char buffer[256];
            while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) { }
            kill(getpid(), SIGTERM);
        }).detach();
    }

    SimServer server(std::move(options), std::move(site), tls);
    std::string error;
    if (!server.start(&error))
        return fail(QString::fromStdString(error), 1);
    // For the operator to compare with what the program shows before it is trusted.
    if (!tls.certificate.empty())
        std::printf("TLS certificate SHA-256 %s\n", tlscert::fingerprint(tls.certificate).c_str());
    std::printf("VMS listening on 127.0.0.1:%d\n", server.vmsPort());
    std::printf("POS listening on 127.0.0.1:%d\n", server.posPort());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.stop();
    return 0;
}
