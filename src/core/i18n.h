#pragma once
#include <QObject>
#include <QString>

/// Language hook: every translatable text in QML appends localeNotify, so that a change of it
/// re-evaluates them all. No catalogue ships, so the texts stay in English.
class I18n : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString language READ language WRITE setLanguage NOTIFY languageChanged)
    Q_PROPERTY(QString localeNotify READ localeNotify NOTIFY localeNotifyChanged)
public:
    explicit I18n(QObject *parent = nullptr);

    QString language() const;
    void setLanguage(const QString &value);
    /// Always empty: appending it changes no text.
    QString localeNotify() const;

signals:
    void languageChanged();
    void localeNotifyChanged();

private:
    QString m_language;
};
