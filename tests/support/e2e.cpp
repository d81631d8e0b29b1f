#include "e2e.h"

#include <QtQuickTest/quicktest.h>

#ifdef TILLMARK_WIDGETS_APPLICATION
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#endif
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSet>
#include <QTimer>
#include <QtTest>

#include <cstdlib>

namespace {

QObject *findNamedIn(QObject *root, const QString &name, QSet<QObject *> &seen)
{
    if (!root || seen.contains(root))
        return nullptr;
    seen.insert(root);
    if (root->objectName() == name)
        return root;
    for (QObject *child : root->children()) {
        if (QObject *found = findNamedIn(child, name, seen))
            return found;
    }
    if (auto *item = qobject_cast<QQuickItem *>(root)) {
        for (QQuickItem *child : item->childItems()) {
            if (QObject *found = findNamedIn(child, name, seen))
                return found;
        }
    }
    return nullptr;
}

} // namespace

QObject *findNamed(QObject *root, const QString &name)
{
    QSet<QObject *> seen;
    return findNamedIn(root, name, seen);
}

ProbeResult probe(const QString &path)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
        { "-v", "error", "-show_entries", "format=format_name,duration:stream=codec_type,codec_name:chapter=start_time",
            "-of", "json", path });
    if (!ffprobe.waitForFinished(60000))
        return {};
    const QJsonObject top = QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object();
    const QJsonObject format = top.value("format").toObject();
    ProbeResult result { format.value("format_name").toString(), format.value("duration").toString().toDouble(), {},
        {} };
    for (const QJsonValue &stream : top.value("streams").toArray())
        result.streams << stream["codec_type"].toString() + ":" + stream["codec_name"].toString();
    for (const QJsonValue &chapter : top.value("chapters").toArray())
        result.chapterStarts << chapter["start_time"].toString().toDouble();
    return result;
}

#ifdef TILLMARK_WIDGETS_APPLICATION
QFileDialog *shownFileDialog()
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<QFileDialog *>(window); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}
#endif

void answerNextMessageBox(Qt::Key key)
{
#ifdef TILLMARK_WIDGETS_APPLICATION
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, key] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll->deleteLater();
        QTest::keyClick(box, key);
    });
    poll->start(20);
#else
    Q_UNUSED(key)
#endif
}

TextRecorder::TextRecorder(QObject *field)
    : m_field(field)
{
    QQmlProperty(field, QStringLiteral("text")).connectNotifySignal(this, SLOT(record()));
}

void TextRecorder::record()
{
    texts << m_field->property("text").toString();
}

void E2eTest::openMainWindow(QQmlApplicationEngine &engine)
{
    engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
    QCOMPARE(engine.rootObjects().size(), 1);
    m_window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    QVERIFY(m_window);
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

QObject *E2eTest::find(const QString &name)
{
    QSet<QObject *> seen;
    QObject *found = findNamedIn(m_window, name, seen);
    return found ? found : findNamedIn(m_window->contentItem(), name, seen);
}

bool E2eTest::polishPending(const QQuickItem *item)
{
    for (; item; item = item->parentItem()) {
        if (QQuickTest::qIsPolishScheduled(item))
            return true;
    }
    return false;
}

QPoint E2eTest::centreOf(QObject *object) const
{
    auto *item = qobject_cast<QQuickItem *>(object);
    return item ? item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint() : QPoint();
}

void E2eTest::click(QObject *item, Qt::KeyboardModifiers modifiers)
{
    QVERIFY(item);
    auto *quickItem = qobject_cast<QQuickItem *>(item);
    QVERIFY(quickItem->isVisible());
    // A popup that has just opened may not have laid out its contents yet: a click at the item's
    // place before then lands somewhere else (outside the popup, which closes it).
    QTRY_VERIFY_WITH_TIMEOUT(!polishPending(quickItem), 10000);
    QTest::mouseClick(m_window, Qt::LeftButton, modifiers, centreOf(item));
}

void E2eTest::typeInto(const QString &field, const QString &text)
{
    QObject *item = find(field);
    QVERIFY2(item, qPrintable(field));
    click(item);
    QTRY_VERIFY(item->property("activeFocus").toBool());
    press(Qt::Key_A, Qt::ControlModifier);
    type(text);
    QCOMPARE(item->property("text").toString(), text);
}

void E2eTest::press(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(m_window, key, modifiers);
}

void E2eTest::type(const QString &text)
{
    for (const QChar c : text)
        QTest::keyClick(m_window, c.toLatin1()); // no keyClicks for a window
}

QObject *E2eTest::focused() const
{
    return m_window->activeFocusItem();
}

void E2eTest::tabTo(const QString &name)
{
    QObject *target = find(name);
    QVERIFY2(target, qPrintable(name));
    for (int i = 0; i < 20 && focused() != target; ++i)
        press(Qt::Key_Tab);
    QVERIFY2(focused() == target, qPrintable(name));
}

#ifdef TILLMARK_WIDGETS_APPLICATION
QLineEdit *E2eTest::saveDialogName()
{
    QFileDialog *dialog = nullptr;
    if (!QTest::qWaitFor([&dialog] { return (dialog = shownFileDialog()) != nullptr; }, 5000))
        return nullptr;
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    return name && QTest::qWaitFor([name] { return name->hasFocus(); }, 5000) ? name : nullptr;
}

void E2eTest::acceptSaveDialog(QLineEdit *name)
{
    QTest::keyClick(name, Qt::Key_Return);
    QTRY_VERIFY(!shownFileDialog());
    m_window->requestActivate();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
}
#endif

QImage frameAt(const QString &video, double seconds)
{
    const QString png = QStringLiteral("%1-%2.png").arg(video).arg(seconds);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
        { "-v", "error", "-y", "-ss", QString::number(seconds), "-i", video, "-frames:v", "1", png });
    if (!ffmpeg.waitForFinished(180000) || ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0)
        qWarning("%s", ffmpeg.readAllStandardError().constData());
    return QImage(png).convertToFormat(QImage::Format_RGB32);
}

double meanDifference(const QImage &a, const QImage &b, const QRect &area)
{
    double sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * area.width() * area.height());
}

bool renderTestClip(const QString &path)
{
    QProcess clip;
    clip.start("ffmpeg",
        { "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=s=320x180:r=25:d=180", "-c:v", "libx264", "-preset",
            "ultrafast", "-g", "50", path });
    if (clip.waitForFinished(120000) && clip.exitStatus() == QProcess::NormalExit && clip.exitCode() == 0)
        return true;
    qWarning("%s", clip.readAllStandardError().constData());
    return false;
}

void E2eTest::waitForPageStack()
{
    auto *stack = qobject_cast<QQuickItem *>(find("stackView"));
    while (stack && !stack->inherits("QQuickStackView"))
        stack = stack->parentItem();
    QVERIFY(stack);
    QTRY_VERIFY(!stack->property("busy").toBool());
}

void E2eTest::logIn(int posPort, int vmsPort, const QString &user, const QString &password)
{
    typeInto("txtPosHost", QStringLiteral("127.0.0.1:%1").arg(posPort));
    typeInto("txtHost", QStringLiteral("127.0.0.1:%1").arg(vmsPort));
    typeInto("txtUsername", user);
    typeInto("txtPassword", password);
    click(find("btnLogin"));
}
