#include "app/accessibility.h"

#include <QAccessible>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

namespace {

const QString Secret = QStringLiteral("Secret123");

const QByteArray Form = R"(
import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Window 2.15
Window {
    visible: true
    width: 400; height: 300
    Column {
        TextField { objectName: "normal"; text: "admin"; Accessible.name: "User" }
        TextField { objectName: "password"; text: "Secret123"; echoMode: TextInput.Password
                    Accessible.name: "Password"; Accessible.description: "the account password" }
        TextField { objectName: "noEcho"; text: "Secret123"; echoMode: TextInput.NoEcho }
        TextField { objectName: "echoOnEdit"; text: "Secret123"; echoMode: TextInput.PasswordEchoOnEdit }
        TextInput { objectName: "plainInput"; text: "Secret123"; echoMode: TextInput.Password; width: 100; height: 20 }
        TextField { objectName: "readOnly"; text: "Secret123"; echoMode: TextInput.Password; readOnly: true }
    }
}
)";

} // namespace

/// What assistive technology reads from the text fields of a window: a field that hides its text
/// hides it from screen readers too, and still behaves as a text field for them.
class TestAccessibility : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void hiddenText_data();
    void hiddenText();
    void normalFieldReadsItsText();
    void placeInTheTree();
    void caretAndSelection();
    void stateAndAction();

private:
    QAccessibleInterface *accessibleOf(const char *name);

    QQmlApplicationEngine *m_engine = nullptr;
    QQuickWindow *m_window = nullptr;
};

void TestAccessibility::initTestCase()
{
    installPasswordFieldAccessibility();
    QAccessible::setActive(true);
    m_engine = new QQmlApplicationEngine(this);
    m_engine->loadData(Form);
    QCOMPARE(m_engine->rootObjects().size(), 1);
    m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().constFirst());
    QVERIFY(m_window);
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestAccessibility::cleanupTestCase()
{
    delete m_engine;
    QAccessible::setActive(false);
}

QAccessibleInterface *TestAccessibility::accessibleOf(const char *name)
{
    QObject *item = m_window->findChild<QObject *>(QString::fromLatin1(name));
    return item ? QAccessible::queryAccessibleInterface(item) : nullptr;
}

void TestAccessibility::hiddenText_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("shown");
    const QString bullets(
        Secret.size(), m_window->findChild<QQuickItem *>("password")->property("passwordCharacter").toString().at(0));
    QTest::newRow("password") << QByteArray("password") << bullets;
    QTest::newRow("no echo") << QByteArray("noEcho") << QString();
    QTest::newRow("echo on edit, not being edited") << QByteArray("echoOnEdit") << bullets;
    QTest::newRow("plain text input") << QByteArray("plainInput") << bullets;
    QTest::newRow("read-only") << QByteArray("readOnly") << bullets;
}

void TestAccessibility::hiddenText()
{
    QFETCH(QByteArray, field);
    QFETCH(QString, shown);
    QObject *item = m_window->findChild<QObject *>(QString::fromLatin1(field));
    QVERIFY(item);
    // The field itself still holds the password: only what is read out changes.
    QCOMPARE(item->property("text").toString(), Secret);

    QAccessibleInterface *iface = accessibleOf(field);
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::EditableText);
    QVERIFY(iface->state().passwordEdit);
    QCOMPARE(iface->text(QAccessible::Value), shown);
    QAccessibleTextInterface *text = iface->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), shown.size());
    QCOMPARE(text->text(0, -1), shown);
    QCOMPARE(text->text(0, text->characterCount()), shown);
    // Readers move through a field by character, word and line; each step gives the mask, never the
    // password, and returns (a word search on text without words used to loop for ever).
    int start = -1;
    int end = -1;
    for (int offset = 0; offset < shown.size(); ++offset) {
        QCOMPARE(text->textAtOffset(offset, QAccessible::CharBoundary, &start, &end), shown.mid(offset, 1));
        QCOMPARE(start, offset);
        QCOMPARE(end, offset + 1);
        QCOMPARE(text->textBeforeOffset(offset, QAccessible::CharBoundary, &start, &end), shown.mid(offset - 1, 1));
        QCOMPARE(text->textAfterOffset(offset, QAccessible::CharBoundary, &start, &end), shown.mid(offset + 1, 1));
    }
    for (const QAccessible::TextBoundaryType unit : { QAccessible::WordBoundary, QAccessible::SentenceBoundary,
             QAccessible::ParagraphBoundary, QAccessible::LineBoundary, QAccessible::NoBoundary }) {
        for (int offset = -1; offset <= shown.size(); ++offset) {
            QCOMPARE(text->textAtOffset(offset, unit, &start, &end), shown);
            QCOMPARE(end - start, shown.isEmpty() ? 0 : shown.size());
            QCOMPARE(text->textBeforeOffset(offset, unit, &start, &end), QString());
            QCOMPARE(text->textAfterOffset(offset, unit, &start, &end), QString());
        }
    }
    QCOMPARE(text->textAtOffset(shown.size() + 1, QAccessible::WordBoundary, &start, &end), QString());
    for (const QAccessible::Text type : { QAccessible::Name, QAccessible::Description, QAccessible::Help }) {
        QVERIFY(!iface->text(type).contains(Secret));
    }
}

void TestAccessibility::normalFieldReadsItsText()
{
    QAccessibleInterface *iface = accessibleOf("normal");
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::EditableText);
    QVERIFY(!iface->state().passwordEdit);
    QCOMPARE(iface->text(QAccessible::Value), QString("admin"));
    QCOMPARE(iface->textInterface()->text(0, 5), QString("admin"));
}

void TestAccessibility::placeInTheTree()
{
    QAccessibleInterface *iface = accessibleOf("password");
    QVERIFY(iface && iface->isValid());
    QCOMPARE(iface->text(QAccessible::Name), QString("Password"));
    QCOMPARE(iface->text(QAccessible::Description), QString("the account password"));
    QCOMPARE(iface->window(), m_window);
    QCOMPARE(iface->childCount(), 0);
    // A reader walks down from the window and up from the focus: both ways must meet.
    QAccessibleInterface *parent = iface->parent();
    QVERIFY(parent);
    const int index = parent->indexOfChild(iface);
    QVERIFY2(index >= 0, "the field's parent does not list it");
    QCOMPARE(parent->child(index), iface);
    auto *item = m_window->findChild<QQuickItem *>("password");
    const QPoint topLeft = m_window->mapToGlobal(item->mapToScene(QPointF(0, 0)).toPoint());
    QCOMPARE(iface->rect(), QRect(topLeft, QSize(int(item->width()), int(item->height()))));
    const QRect first = iface->textInterface()->characterRect(0);
    QVERIFY(iface->rect().intersects(first));
    QCOMPARE(iface->textInterface()->offsetAtPoint(first.center()), 0);
}

void TestAccessibility::caretAndSelection()
{
    auto *item = m_window->findChild<QQuickItem *>("password");
    QAccessibleTextInterface *text = accessibleOf("password")->textInterface();
    text->setCursorPosition(4);
    QCOMPARE(item->property("cursorPosition").toInt(), 4);
    QCOMPARE(text->cursorPosition(), 4);
    QCOMPARE(text->selectionCount(), 0);
    text->setSelection(0, 2, 6);
    QCOMPARE(item->property("selectionStart").toInt(), 2);
    QCOMPARE(item->property("selectionEnd").toInt(), 6);
    int start = -1;
    int end = -1;
    text->selection(0, &start, &end);
    QCOMPARE(start, 2);
    QCOMPARE(end, 6);
    QCOMPARE(text->selectionCount(), 1);
    text->removeSelection(0);
    QCOMPARE(text->selectionCount(), 0);
}

void TestAccessibility::stateAndAction()
{
    QAccessibleInterface *iface = accessibleOf("password");
    QVERIFY(iface->state().editable);
    QVERIFY(!iface->state().readOnly);
    QVERIFY(accessibleOf("readOnly")->state().readOnly);
    QVERIFY(!iface->state().focused);
    QAccessibleActionInterface *actions = iface->actionInterface();
    QVERIFY(actions);
    QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::setFocusAction()));
    actions->doAction(QAccessibleActionInterface::setFocusAction());
    QTRY_VERIFY(iface->state().focused);
    QCOMPARE(m_window->activeFocusItem(), m_window->findChild<QQuickItem *>("password"));
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
