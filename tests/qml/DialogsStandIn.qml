import QtQuick 2.15
import "qrc:/"

// Stands in for the window's dialogs, which cannot be driven here: keeps what the page offers them, and
// answers through the window's own answer path, as a file or folder URL the way the dialogs give one.
AppDialogs {
    property url offered
    property url offeredFolder
    property int saveCount: 0
    property int folderCount: 0
    property url offeredOpen
    property int openCount: 0

    function openSave(fileUrl) {
        offered = fileUrl
        ++saveCount
    }
    function openOpen(folderUrl) {
        offeredOpen = folderUrl
        ++openCount
    }
    function acceptOpen(fileUrl) {
        answerOpen(fileUrl)
    }
    function openFolder(folderUrl) {
        offeredFolder = folderUrl
        ++folderCount
    }
    /// Accepts fileUrl, or the file offered.
    function acceptSave(fileUrl) {
        answerSave(fileUrl === undefined ? offered : fileUrl)
    }
    function acceptFolder(folderUrl) {
        answerFolder(folderUrl)
    }
    function reset() {
        whenSaved = null
        whenFolder = null
        offered = ""
        offeredFolder = ""
        saveCount = 0
        folderCount = 0
        whenOpened = null
        offeredOpen = ""
        openCount = 0
    }
}
