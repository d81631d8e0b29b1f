import QtQuick 2.15
import Qt.labs.platform 1.1
import Tillmark 1.0

// The window's save, open and folder dialogs, one of each for every page: the page that asks is given the
// path chosen, whatever form the platform's dialog hands it back in.
Item {
    id: dialogs
    visible: false

    property var whenSaved: null
    property var whenFolder: null
    property var whenOpened: null

    /// Asks where to save, starting on fileUrl (its folder and name); a name typed without a suffix gets
    /// suffix. chosen(path) follows once a file is accepted; nothing follows a cancel.
    function saveFile(fileUrl, suffix, chosen) {
        whenSaved = chosen
        saveFileDialog.defaultSuffix = suffix
        openSave(fileUrl)
    }

    /// Asks for a folder, starting in folderUrl; chosen(path) follows once one is accepted.
    function chooseFolder(folderUrl, chosen) {
        whenFolder = chosen
        openFolder(folderUrl)
    }

    /// Asks for a file to read, starting in folderUrl and showing the files of nameFilters (such as
    /// "Rules (*.json)"); chosen(path) follows once one is accepted.
    function openFile(folderUrl, nameFilters, chosen) {
        whenOpened = chosen
        openFileDialog.nameFilters = nameFilters
        openOpen(folderUrl)
    }

    // The dialog's answers, as a URL or a path.
    function answerSave(fileUrl) {
        if (whenSaved)
            whenSaved(Utils.localFilePath(fileUrl))
    }
    function answerOpen(fileUrl) {
        if (whenOpened)
            whenOpened(Utils.localFilePath(fileUrl))
    }
    function answerFolder(folderUrl) {
        if (whenFolder)
            whenFolder(Utils.localFilePath(folderUrl))
    }

    /// Opens the save dialog on fileUrl. A dialog that is built on its first opening (the Widgets one
    /// where the platform has no native dialog) starts on its folder alone, so the name is given again
    /// once it is open.
    function openSave(fileUrl) {
        saveFileDialog.currentFile = fileUrl
        saveFileDialog.open()
        if (String(saveFileDialog.currentFile) !== String(fileUrl))
            saveFileDialog.currentFile = fileUrl
    }

    function openOpen(folderUrl) {
        openFileDialog.folder = folderUrl
        openFileDialog.open()
    }

    function openFolder(folderUrl) {
        if (widgetFolderDialog.available) {
            widgetFolderDialog.open(folderDialog.title, folderUrl)
            return
        }
        folderDialog.currentFolder = folderUrl
        folderDialog.open()
    }

    FileDialog {
        id: saveFileDialog
        objectName: "saveFileDialog"
        title: qsTr("Save file") + I18n.localeNotify
        fileMode: FileDialog.SaveFile
        defaultSuffix: "mp4"
        onAccepted: dialogs.answerSave(currentFile)
    }

    FileDialog {
        id: openFileDialog
        objectName: "openFileDialog"
        title: qsTr("Open file") + I18n.localeNotify
        fileMode: FileDialog.OpenFile
        onAccepted: dialogs.answerOpen(file)
    }

    FolderDialog {
        id: folderDialog
        objectName: "folderDialog"
        title: qsTr("Folder for the exports") + I18n.localeNotify
        onAccepted: dialogs.answerFolder(folder)
    }

    // Stands in for the folder dialog where the platform has none (see FolderChooser).
    FolderChooser {
        id: widgetFolderDialog
        onChosen: dialogs.answerFolder(folder)
    }
}
