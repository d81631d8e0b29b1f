#pragma once
#include <QImage>
#include <QObject>
#include <QQuickItem>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

class QFileDialog;
class QLineEdit;
class QQmlApplicationEngine;
class QQuickWindow;

/// Finds an object by name in both the object tree and the visual tree below root: popups and
/// delegates hang in only one of them.
QObject *findNamed(QObject *root, const QString &name);

/// What ffprobe says of a media file; a duration of -1 when it could not read one.
struct ProbeResult {
    QString formatName;
    double duration = -1;
    /// "codec type:codec name" of each stream, in order.
    QStringList streams;
    /// Where each chapter starts, in seconds.
    QList<double> chapterStarts;
};

ProbeResult probe(const QString &path);

#ifdef TILLMARK_WIDGETS_APPLICATION
/// The save dialog on screen: the Widgets one, which the window's dialog is where the platform has no
/// native one. Null while none shows.
QFileDialog *shownFileDialog();
#endif

/// One frame of a video as FFmpeg decodes it at seconds (an exact seek), written beside the video as a
/// PNG; a null image, with FFmpeg's complaint in the log, when it could not.
QImage frameAt(const QString &video, double seconds);

/// Mean difference of the colour channels over an area of two pictures of one size, 0 to 255.
double meanDifference(const QImage &a, const QImage &b, const QRect &area);

/// Renders the clip the simulated video server serves: three minutes of a small test picture. False,
/// with FFmpeg's complaint in the log, when it could not.
bool renderTestClip(const QString &path);

/// Presses key in the next message box that opens (the save dialog's question before it overwrites a
/// file): the box runs an event loop of its own, inside the key press that opened it.
void answerNextMessageBox(Qt::Key key);

/// Every text a field shows, in order.
class TextRecorder : public QObject
{
    Q_OBJECT
public:
    explicit TextRecorder(QObject *field);
    QStringList texts;

public slots:
    void record();

private:
    QObject *m_field;
};

/// Base of the end-to-end tests: the real main window, driven with the mouse and the keyboard as the
/// operator drives it. Failures are reported through QtTest from inside the helpers.
class E2eTest : public QObject
{
protected:
    /// Loads "qrc:/main.qml" into engine and waits until its window is on screen.
    void openMainWindow(QQmlApplicationEngine &engine);
    QObject *find(const QString &name);
    QPoint centreOf(QObject *item) const;
    void click(QObject *item, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    /// Whether the item or one of the items it lies in still waits to be laid out.
    static bool polishPending(const QQuickItem *item);
    void typeInto(const QString &field, const QString &text);
    /// Key presses on the window, as the keyboard sends them; text is typed character by character.
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void type(const QString &text);
    /// The item that has the keyboard.
    QObject *focused() const;
    /// Tab until the named item has the keyboard, as an operator looks for a control.
    void tabTo(const QString &name);
#ifdef TILLMARK_WIDGETS_APPLICATION
    /// The name field of the save dialog once the dialog shows and the field has the keyboard; null
    /// when it does not come.
    QLineEdit *saveDialogName();
    /// Return in the save dialog's name field; once the dialog has closed, the window has the keyboard
    /// again, as the desktop gives it back.
    void acceptSaveDialog(QLineEdit *name);
#endif
    /// Waits until the window's page stack (the one around the pages after login) has slid its new page
    /// in: it takes no input meanwhile.
    void waitForPageStack();
    /// Fills in the login page and presses "Login".
    void logIn(int posPort, int vmsPort, const QString &user, const QString &password);

    QQuickWindow *m_window = nullptr;
};
