#pragma once
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QWidget;

/// The folder dialog where the platform has none of its own. There the Qt.labs.platform FolderDialog
/// falls back to a Widgets dialog but hands back the folder that dialog shows, not the one chosen in it:
/// a folder picked in the list, or a path typed, comes back as the folder around it. This dialog
/// reports the folder chosen. Where the program runs without Widgets it is not available, and the
/// platform's own dialog is used.
class FolderChooser : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool available READ available CONSTANT)
public:
    explicit FolderChooser(QObject *parent = nullptr);
    ~FolderChooser() override;

    bool available() const;
    /// Opens the dialog on start and returns at once; chosen() follows when a folder is accepted.
    Q_INVOKABLE void open(const QString &title, const QUrl &start);

signals:
    void chosen(const QUrl &folder);

private:
    QPointer<QWidget> m_dialog;
};
