#pragma once
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

/// What the window tells the operator, whichever page or object has something to say: messages, shown
/// one at a time in the window's message box in the order they came, and whether the window waits for
/// something (its busy box). One instance for the whole run; QML reaches it as the singleton Notifier,
/// C++ through get().
class Notifier : public QObject
{
    Q_OBJECT
    /// The message the box shows; empty when there is none.
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
public:
    explicit Notifier(QObject *parent = nullptr);
    ~Notifier() override;

    /// The most recently constructed instance.
    static Notifier *get();

    QString message() const;
    bool busy() const;

    /// Shows text, or has it wait behind the message shown. A text that is already shown or waiting
    /// last is not repeated: an error that comes twice in a row is read once.
    Q_INVOKABLE void show(const QString &text);
    /// The operator has read the message shown: the next one takes its place.
    Q_INVOKABLE void dismiss();
    /// Whether holder keeps the window waiting. The box shows while any holder does; one that is
    /// destroyed while it does lets go.
    Q_INVOKABLE void setBusy(QObject *holder, bool busy);

signals:
    void messageChanged();
    void busyChanged();

private:
    QStringList m_messages;
    QSet<QObject *> m_busy;
    static Notifier *s_inst;
};
