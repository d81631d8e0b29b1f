#pragma once
#include "exceptions/ruleengine.h"
#include "exceptions/rulelistmodel.h"
#include "pos/receiptflagger.h"

#include <QString>
#include <QStringList>

#include <memory>

class QSettings;

/// The program's exception rules: kept in the settings file (saved at every change), edited in the rules
/// dialog through list(), handed from store to store as a rules file, and run wherever receipts are shown
/// (the Exceptions tab, the marks on the timeline). One for the whole run (shared()), which QML reaches
/// as the singleton Rules.
class ExceptionRules : public ReceiptFlagger
{
    Q_OBJECT
    Q_PROPERTY(RuleListModel *list READ list CONSTANT)
    /// Why the rules kept in the settings could not be read (the default rules stand in); empty when they
    /// could.
    Q_PROPERTY(QString loadProblem READ loadProblem NOTIFY loadProblemChanged)
public:
    explicit ExceptionRules(QObject *parent = nullptr);
    ~ExceptionRules() override;

    /// The rules of the settings file, made on first use.
    static ExceptionRules *shared();

    /// Takes the rules kept in settings (the default rules where none are) and saves every later change
    /// there; none: the default rules, not saved.
    void useSettings(QSettings *settings);

    RuleListModel *list();
    QString loadProblem() const { return m_loadProblem; }
    const QVector<Rule> &rules() const { return m_list.rules(); }
    /// The rules made ready to run, made again at every change (the rule indexes it gives are those of
    /// rules()).
    const RuleEngine &engine() const { return *m_engine; }

    /// The names of the rules that fire on the receipt.
    QStringList flagsOf(const PosData &receipt) const override;

    /// Writes the rules as a rules file into the file the save dialog gave (a URL or a path). False, with
    /// the reason in lastError(), when it cannot be written.
    Q_INVOKABLE bool exportToFile(const QString &file);
    /// Puts the rules of a rules file (a URL or a path) in the place of these. False, with the reason in
    /// lastError(), when the file cannot be read or has a fault; then nothing changes.
    Q_INVOKABLE bool importFromFile(const QString &file);
    Q_INVOKABLE QString lastError() const { return m_lastError; }
    /// The file the export dialog first offers, as a URL: "tillmark-rules.json" in the user's documents.
    Q_INVOKABLE QString suggestedFile() const;
    /// The folder the import dialog first opens, as a URL.
    Q_INVOKABLE QString suggestedFolder() const;

signals:
    /// Any change of the rules; the engine is new.
    void rulesChanged();
    void loadProblemChanged();

private:
    void onListChanged();

    RuleListModel m_list;
    std::unique_ptr<RuleEngine> m_engine;
    QSettings *m_settings = nullptr;
    QString m_loadProblem;
    QString m_lastError;
    /// While the rules of the settings are put in the list: they are not saved back.
    bool m_loading = false;
};
