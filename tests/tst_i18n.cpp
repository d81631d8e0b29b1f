#include "core/i18n.h"

#include <QtTest>

/// The language hook: the language is stored exactly, and the notifier stays empty and silent.
class TestI18n : public QObject
{
    Q_OBJECT
private slots:
    void languageSetter();
    void localeNotifyStaysEmpty();
};

void TestI18n::languageSetter()
{
    I18n i18n;
    QSignalSpy language(&i18n, &I18n::languageChanged);
    QSignalSpy notify(&i18n, &I18n::localeNotifyChanged);
    QCOMPARE(i18n.language(), QString());
    i18n.setLanguage("");
    QCOMPARE(language.count(), 0);
    i18n.setLanguage("de");
    i18n.setLanguage("de");
    QCOMPARE(language.count(), 1);
    i18n.setLanguage("DE");
    i18n.setLanguage(" DE");
    QCOMPARE(language.count(), 3);
    QCOMPARE(i18n.language(), QString(" DE"));
    QCOMPARE(notify.count(), 0);
}

void TestI18n::localeNotifyStaysEmpty()
{
    I18n i18n;
    for (const char *language : { "fr", "pl", "" }) {
        i18n.setLanguage(language);
        QVERIFY(i18n.localeNotify().isEmpty());
    }
    QCOMPARE(QString("Login") + i18n.localeNotify(), QString("Login"));
}

QTEST_GUILESS_MAIN(TestI18n)
#include "tst_i18n.moc"
