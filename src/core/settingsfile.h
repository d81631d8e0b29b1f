#pragma once

class QSettings;

/// The program's settings file: what the operator set that outlives a run (the servers and the user name
/// of the last login, the certificates trusted, ...), never a password. An INI file in the user's
/// configuration folder ("Tillmark/Tillmark.ini"); made on first use and kept for the whole run.
QSettings &settingsFile();
