#include "exceptions/exceptionrules.h"

#include "core/files.h"
#include "core/settingsfile.h"
#include "core/utils.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUrl>

namespace {

/// A rules file is a few kilobytes; anything this large is no rules file.
constexpr qint64 kLargestFile = 4 * 1024 * 1024;

} // namespace

ExceptionRules::ExceptionRules(QObject *parent)
    : ReceiptFlagger(parent)
    , m_engine(std::make_unique<RuleEngine>(QVector<Rule>()))
{
    connect(&m_list, &RuleListModel::rulesChanged, this, &ExceptionRules::onListChanged);
    m_list.setRules(defaultRules());
}

ExceptionRules::~ExceptionRules() = default;

ExceptionRules *ExceptionRules::shared()
{
    // Never deleted: the pages ask it until the process ends.
    static ExceptionRules *rules = [] {
        auto *made = new ExceptionRules;
        made->useSettings(&settingsFile());
        return made;
    }();
    return rules;
}

void ExceptionRules::useSettings(QSettings *settings)
{
    m_settings = nullptr;
    QString problem;
    m_loading = true;
    m_list.setRules(settings ? loadRules(*settings, &problem) : defaultRules());
    m_loading = false;
    m_settings = settings;
    if (problem != m_loadProblem) {
        m_loadProblem = problem;
        emit loadProblemChanged();
    }
}

RuleListModel *ExceptionRules::list()
{
    return &m_list;
}

void ExceptionRules::onListChanged()
{
    m_engine = std::make_unique<RuleEngine>(m_list.rules());
    // Rules that could not be read stay in the settings until the operator changes the rules.
    if (m_settings && !m_loading)
        saveRules(*m_settings, m_list.rules());
    emit rulesChanged();
    emit flaggingChanged();
}

QStringList ExceptionRules::flagsOf(const PosData &receipt) const
{
    QStringList names;
    for (const RuleHit &hit : m_engine->evaluate(receipt))
        names << m_engine->rules().at(hit.rule).name;
    return names;
}

bool ExceptionRules::exportToFile(const QString &file)
{
    const QString path = Utils::localPath(file);
    const QString failure = writeWholeFile(path, rulesToJson(m_list.rules()));
    m_lastError = failure.isEmpty()
        ? QString()
        : tr("The rules could not be written to \"%1\": %2").arg(QDir::toNativeSeparators(path), failure);
    return failure.isEmpty();
}

bool ExceptionRules::importFromFile(const QString &file)
{
    const QString path = Utils::localPath(file);
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        m_lastError = tr("\"%1\" could not be read: %2").arg(QDir::toNativeSeparators(path), in.errorString());
        return false;
    }
    if (in.size() > kLargestFile) {
        m_lastError = tr("\"%1\" is no rules file: it is far too large.").arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!m_list.importJson(QString::fromUtf8(in.readAll()))) {
        m_lastError = tr("\"%1\" was not imported, and the rules are as they were: %2")
                          .arg(QDir::toNativeSeparators(path), m_list.lastError());
        return false;
    }
    m_lastError.clear();
    return true;
}

QString ExceptionRules::suggestedFolder() const
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QUrl::fromLocalFile(QDir(documents).exists() ? documents : QDir::homePath()).toString();
}

QString ExceptionRules::suggestedFile() const
{
    return suggestedFolder() + QStringLiteral("/tillmark-rules.json");
}
