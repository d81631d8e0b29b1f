import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// Searches the till receipts by their text; one opened receipt exports the three minutes around it
// from one of its cameras, with the receipts of that camera burnt into the video.
Page {
    id: page
    padding: 10
    title: qsTr("Receipts") + I18n.localeNotify

    /// The window's save and folder dialogs, for the exports.
    property AppDialogs dialogs: null

    // "Show on timeline" in the detail box: the receipt's camera and time, for the recordings page.
    signal showOnTimelineRequested(string streamId, var createdAt)
    // "Watch" in the detail box: the receipt's window in the review player.
    signal watchRequested(var createdAt, string streamId, string streamName, string content, bool highQuality,
                          real tillClockOffsetMs)

    /// Opens the detail box on a receipt, with the camera streamId chosen when the receipt lists it;
    /// tillClockOffsetMs: how far its till's clock was taken to be off.
    function openReceipt(createdAt, content, streams, streamId, tillClockOffsetMs) {
        popDetail.showReceipt(createdAt, content, streams, streamId, tillClockOffsetMs)
    }

    // Ctrl+F: the search field, from either page.
    Shortcut {
        sequence: StandardKey.Find
        onActivated: {
            if (page.SwipeView.view)
                page.SwipeView.view.setCurrentIndex(page.SwipeView.index)
            txtText.forceActiveFocus()
            txtText.selectAll()
        }
    }

    function search() {
        if (txtText.text.trim().length < 3) {
            Notifier.show(qsTr("The search text must at least 3 characters"))
            return
        }
        if (!chkFrom.checked && !chkTo.checked) {
            posSearching.searchByContent(txtText.text)
            return
        }
        if (chkFrom.checked && chkTo.checked && dayFrom.selectedDate > dayTo.selectedDate) {
            Notifier.show(qsTr("The “from” day is after the “to” day."))
            return
        }
        // An invalid date leaves that end of the range open.
        var open = new Date(NaN)
        posSearching.searchByContentInDays(txtText.text, chkFrom.checked ? dayFrom.selectedDate : open,
                                           chkTo.checked ? dayTo.selectedDate : open)
    }

    /// Runs proceed at once, or once the operator has agreed to export again a receipt that was exported
    /// in this session already.
    function unlessExported(createdAt, content, proceed) {
        var videos = Exports.exportsOf(createdAt, content === undefined ? "" : content)
        if (videos.length === 0) {
            proceed()
            return
        }
        popAgain.ask(qsTr("This receipt has been exported in this session already:\n%1\nExport it again?")
                     .arg(videos.join("\n")) + I18n.localeNotify, proceed, null)
    }

    /// Asks where to put the export of the window around a receipt, then queues it. It runs at once,
    /// followed by the progress box, when the queue is idle; otherwise it waits its turn, and the queue
    /// shows it.
    function exportAround(createdAt, streamId, streamName, content, highQuality, tillClockOffsetMs) {
        unlessExported(createdAt, content, function () { askFileAndExport(createdAt, streamId, streamName, content,
                                                                          highQuality, tillClockOffsetMs) })
    }

    function askFileAndExport(createdAt, streamId, streamName, content, highQuality, tillClockOffsetMs) {
        var suggested = Exports.suggestedFile(streamName, Utils.addDateTime(createdAt, -Exports.halfWindowSecs),
                                              Utils.addDateTime(createdAt, Exports.halfWindowSecs))
        dialogs.saveFile(suggested, "mp4", function (path) {
            // The receipt, the camera and the window travel together in the job, whatever the detail
            // box shows by the time the servers answer.
            var followed = Exports.job
            if (Exports.exportReceipt(createdAt, content === undefined ? "" : content, streamId, streamName,
                                      highQuality === true, path, tillClockOffsetMs || 0)
                    && Exports.job === followed) {
                popDetail.close()
                Exports.showQueue()
            }
        })
    }

    /// The window of one receipt from each of cameras, into a folder asked for once.
    function exportCameras(createdAt, content, cameras, highQuality, tillClockOffsetMs) {
        unlessExported(createdAt, content, function () {
            askFolder(function (folder) {
                if (Exports.exportCameras(createdAt, content, cameras, highQuality, folder, tillClockOffsetMs || 0) > 0) {
                    popDetail.close()
                    Exports.showQueue()
                }
            })
        })
    }

    /// Asks for a folder, starting in start (a path) or the suggested one, and hands chosen its path.
    function askFolder(chosen, start) {
        dialogs.chooseFolder(Exports.folderUrl(start ? start : Exports.suggestedFolder()), chosen)
    }

    /// A click on a row: alone it chooses the row and opens it; with Ctrl it adds or removes the row;
    /// with Shift it chooses the rows from the one clicked last.
    function rowClicked(row, modifiers) {
        lstResult.currentIndex = row
        lstResult.forceActiveFocus()
        if (chosenRows.click(row, modifiers))
            openRow(lstResult.currentItem)
    }

    function openRow(item) {
        openReceipt(item.createdAt, item.content, item.streams, "", item.tillClockOffsetMs)
    }

    function exportSelected() {
        var rows = chosenRows.rows
        if (rows.length === 0)
            return
        var again = Exports.exportedRows(posSearching, rows)
        if (again.length === 0) {
            popBatch.ask(posSearching, rows)
            return
        }
        popAgain.ask(qsTr("%1 of the %2 receipts chosen have been exported in this session already. Export them again?")
                     .arg(again.length).arg(rows.length) + I18n.localeNotify,
                     function () { popBatch.ask(posSearching, rows) },
                     again.length === rows.length ? null : function () {
                         chosenRows.deselect(again)
                         page.exportSelected()
                     })
    }

    function exportBatch(rows, ownCameras, cameras, highQuality, folder) {
        if (Exports.exportRows(posSearching, rows, ownCameras, cameras, highQuality, folder) > 0) {
            popBatch.close()
            Exports.showQueue()
        }
    }

    // The export followed takes the place of the receipt it came from.
    Connections {
        target: Exports
        function onJobChanged() {
            if (Exports.job && Exports.job.isRunning)
                popDetail.close()
        }
    }

    footer: ExportVerify {
        controller: Exports
    }

    PosSearching {
        id: posSearching
        objectName: "posSearching"
        onErrorOccured: Notifier.show(message)
        onIsLoadingChanged: Notifier.setBusy(posSearching, isLoading)
    }

    // The rows chosen for "Export selected…"; a new search starts a new choice.
    RowSelection {
        id: chosenRows
        objectName: "selection"
        model: posSearching
    }

    RowLayout {
        anchors.fill: parent

        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true

            RowLayout {
                Layout.fillWidth: true
                Label {
                    text: qsTr("Search") + I18n.localeNotify
                    font.bold: true
                }
                TextField {
                    id: txtText
                    objectName: "txtText"
                    focus: true
                    Layout.fillWidth: true
                    text: Utils.isDebug() ? "line" : ""
                    selectByMouse: true
                    Accessible.name: qsTr("Search text") + I18n.localeNotify
                    onAccepted: page.search()
                }
                Button {
                    objectName: "btnSearch"
                    text: qsTr("Search") + I18n.localeNotify
                    onClicked: page.search()
                }
            }

            // Optional days that bound the search: receipts from the first moment of the "from" day to
            // the last of the "to" day.
            RowLayout {
                Layout.fillWidth: true
                CheckBox {
                    id: chkFrom
                    objectName: "chkFrom"
                    text: qsTr("from") + I18n.localeNotify
                    Accessible.name: qsTr("Only receipts from a day on") + I18n.localeNotify
                }
                DatePicker {
                    id: dayFrom
                    objectName: "dayFrom"
                    enabled: chkFrom.checked
                    Accessible.name: qsTr("From day: %1").arg(selectedDate.toLocaleDateString(Qt.locale(),
                                                                                            Locale.LongFormat))
                                     + I18n.localeNotify
                }
                CheckBox {
                    id: chkTo
                    objectName: "chkTo"
                    text: qsTr("to") + I18n.localeNotify
                    Accessible.name: qsTr("Only receipts up to a day") + I18n.localeNotify
                }
                DatePicker {
                    id: dayTo
                    objectName: "dayTo"
                    enabled: chkTo.checked
                    Accessible.name: qsTr("To day: %1").arg(selectedDate.toLocaleDateString(Qt.locale(),
                                                                                          Locale.LongFormat))
                                     + I18n.localeNotify
                }
                Item {
                    Layout.fillWidth: true
                }
            }

            RowLayout {
                Layout.fillWidth: true
                // What the last search found, so that a search without matches is seen to have run.
                Label {
                    objectName: "lblCount"
                    Layout.fillWidth: true
                    visible: posSearching.searchText !== ""
                    text: (lstResult.count === 0
                           ? qsTr("No receipt contains \u201c%1\u201d").arg(posSearching.searchText)
                           : lstResult.count === 1 ? qsTr("1 receipt") : qsTr("%1 receipts").arg(lstResult.count))
                          + I18n.localeNotify
                }
                Label {
                    objectName: "lblSelected"
                    visible: chosenRows.count > 1
                    text: qsTr("%1 selected").arg(chosenRows.count) + I18n.localeNotify
                }
                Button {
                    objectName: "btnExportSelected"
                    enabled: chosenRows.count > 0
                    text: qsTr("Export selected\u2026") + I18n.localeNotify
                    Accessible.name: qsTr("Export the selected receipts") + I18n.localeNotify
                    Accessible.description: qsTr("Select with Ctrl or Shift and a click, with Space, Shift and the arrow keys, or all with Ctrl+A")
                                            + I18n.localeNotify
                    onClicked: page.exportSelected()
                }
            }

            ListView {
                id: lstResult
                objectName: "lstResult"
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                model: posSearching
                activeFocusOnTab: true
                keyNavigationEnabled: true
                Accessible.role: Accessible.List
                Accessible.name: qsTr("Receipts found") + I18n.localeNotify
                ScrollBar.vertical: ScrollBar {
                    Accessible.name: qsTr("Scroll the receipts") + I18n.localeNotify
                }
                Keys.onReturnPressed: if (currentItem) page.openRow(currentItem)
                Keys.onEnterPressed: if (currentItem) page.openRow(currentItem)
                // Shift and the arrows choose a run of rows; Ctrl+A chooses them all (Space, on the row
                // itself, ticks one); Escape drops the choice.
                Keys.onPressed: {
                    if (event.key === Qt.Key_A && (event.modifiers & Qt.ControlModifier)) {
                        chosenRows.selectAll()
                        event.accepted = true
                    } else if ((event.key === Qt.Key_Up || event.key === Qt.Key_Down)
                               && (event.modifiers & Qt.ShiftModifier) && count > 0) {
                        currentIndex = chosenRows.extend(currentIndex, event.key === Qt.Key_Down ? 1 : -1)
                        event.accepted = true
                    } else if (event.key === Qt.Key_Escape) {
                        event.accepted = chosenRows.clear()
                    }
                }

                delegate: ResultRow {
                    width: lstResult.width
                    highlighted: ListView.isCurrentItem
                    row: index
                    results: posSearching
                    selection: chosenRows
                    createdAt: posCreatedAt
                    streams: posStreams
                    content: posContent
                    oneLine: posContentOneLine
                    tillClockOffsetMs: posTillClockOffsetMs
                    onChosen: page.rowClicked(index, modifiers)
                }
            }
        }
    }

    ReceiptDetail {
        id: popDetail
        objectName: "popDetail"
        onShowOnTimelineRequested: page.showOnTimelineRequested(streamId, createdAt)
        onExportRequested: page.exportAround(createdAt, streamId, streamName, content, highQuality,
                                             popDetail.tillClockOffsetMs)
        onWatchRequested: page.watchRequested(createdAt, streamId, streamName, content, highQuality,
                                              popDetail.tillClockOffsetMs)
        onExportCamerasRequested: page.exportCameras(createdAt, content, cameras, highQuality,
                                                     popDetail.tillClockOffsetMs)
    }

    ExportBatch {
        id: popBatch
        objectName: "popBatch"
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: parent.width * 0.7
        onChooseFolderRequested: page.askFolder(function (folder) { popBatch.folder = folder }, popBatch.folder)
        onExportRequested: page.exportBatch(rows, ownCameras, cameras, highQuality, folder)
    }

    ExportAgain {
        id: popAgain
        objectName: "popAgain"
        parent: Overlay.overlay
        anchors.centerIn: parent
    }
}
