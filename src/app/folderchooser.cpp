#include "app/folderchooser.h"

#ifdef TILLMARK_WIDGETS_APPLICATION
#include <QApplication>
#include <QFileDialog>
#endif

FolderChooser::FolderChooser(QObject *parent)
    : QObject(parent)
{
}

FolderChooser::~FolderChooser()
{
    delete m_dialog.data();
}

bool FolderChooser::available() const
{
#ifdef TILLMARK_WIDGETS_APPLICATION
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
#else
    return false;
#endif
}

void FolderChooser::open(const QString &title, const QUrl &start)
{
#ifdef TILLMARK_WIDGETS_APPLICATION
    if (!available() || m_dialog)
        return;
    auto *dialog = new QFileDialog(nullptr, title);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setDirectoryUrl(start);
    // The window waits for the answer, as it does for the platform's dialog.
    dialog->setWindowModality(Qt::ApplicationModal);
    connect(dialog, &QFileDialog::fileSelected, this,
        [this](const QString &folder) { emit chosen(QUrl::fromLocalFile(folder)); });
    m_dialog = dialog;
    dialog->open();
#else
    Q_UNUSED(title)
    Q_UNUSED(start)
#endif
}
