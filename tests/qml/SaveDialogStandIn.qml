import QtQuick 2.15

// Stands in for the window's save dialog, which cannot be driven here: keeps what the page gives it and
// answers as the window's dialog does.
QtObject {
    property var okCallback: null
    property var cancelCallback: null
    property url currentFile
    property string defaultSuffix: "mp4"

    function openOn(fileUrl) {
        currentFile = fileUrl
    }
    function accept(fileUrl) {
        currentFile = fileUrl
        okCallback(fileUrl)
    }
}
