import QtQuick 2.15

// Stands in for the window's save dialog, which cannot be driven here: it keeps what the page gives it
// and answers as the window's dialog does.
QtObject {
    property var okCallback: null
    property var cancelCallback: null
    property url currentFile
    property string defaultSuffix: "mp4"
    property int openCount: 0

    function open() {
        ++openCount
    }
    function openOn(fileUrl) {
        currentFile = fileUrl
        open()
    }
    // The answer as given, which may be percent-encoded, as native dialogs give it.
    function accept(fileUrl) {
        currentFile = fileUrl
        defaultSuffix = "mp4"
        if (okCallback)
            okCallback(fileUrl)
    }
    function reject() {
        defaultSuffix = "mp4"
        if (cancelCallback)
            cancelCallback()
    }
}
