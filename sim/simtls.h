#pragma once
#include "tlscert.h"

#include <QString>

#include <optional>

/// Where the simulator's HTTPS certificate comes from: files the operator names, or a self-signed one
/// that the simulator makes on its first start and keeps, so that a certificate pinned against it stays
/// good across restarts.
namespace simtls {

/// The certificate and key of --cert and --key, checked to belong together; empty with the reason.
std::optional<tlscert::Pem> readFiles(const QString &certificateFile, const QString &keyFile, QString *error);

/// The simulator's own certificate for localhost, 127.0.0.1 and ::1, kept in folder as "tls.pem": the
/// one made before, or a new one when there is none yet or it has run out (then *note says so). Empty
/// with the reason when it can neither be read nor made and kept.
std::optional<tlscert::Pem> ownCertificate(const QString &folder, QString *note, QString *error);

/// The folder for ownCertificate(): this user's data folder of the program.
QString defaultFolder();

} // namespace simtls
