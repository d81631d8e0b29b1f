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

    // "Show on timeline" in the detail box: the receipt's camera and time, for the recordings page.
    signal showOnTimelineRequested(string streamId, var createdAt)

    function showError(message) {
        popMessage.message = message
        popMessage.open()
    }

    /// Opens the detail box on a receipt, with the camera streamId chosen when the receipt lists it.
    function openReceipt(createdAt, content, streams, streamId) {
        popDetail.message = content
        popDetail.createdAt = createdAt
        popDetail.streams = streams
        var chosen = streamId ? cbStream.indexOfValue(streamId) : -1
        cbStream.currentIndex = chosen >= 0 ? chosen : (streams.length > 0 ? 0 : -1)
        popDetail.open()
    }

    /// The path behind the save dialog's answer. The dialog may give the URL percent-encoded
    /// ("my%20clip.mp4"), and FFmpeg must write exactly the file that was chosen.
    function chosenPath(url) {
        var text = String(url)
        try {
            text = decodeURIComponent(text)
        } catch (malformed) {
            // A lone "%" that starts no escape is part of the name.
        }
        return Utils.fileUriToFilePath(text)
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
            showError(qsTr("The search text must at least 3 characters"))
            return
        }
        if (!chkFrom.checked && !chkTo.checked) {
            posSearching.searchByContent(txtText.text)
            return
        }
        if (chkFrom.checked && chkTo.checked && dayFrom.selectedDate > dayTo.selectedDate) {
            showError(qsTr("The “from” day is after the “to” day."))
            return
        }
        // An invalid date leaves that end of the range open.
        var open = new Date(NaN)
        posSearching.searchByContentInDays(txtText.text, chkFrom.checked ? dayFrom.selectedDate : open,
                                           chkTo.checked ? dayTo.selectedDate : open)
    }

    /// Exports that wait or run, for the window's closing.
    readonly property int exportsLeft: exporter.queue.pendingCount
    readonly property ExportQueue exportQueue: exporter.queue

    function showQueue() {
        queuePanel.open()
    }

    function cancelExports() {
        exporter.cancelAll()
    }

    /// Runs proceed at once, or once the operator has agreed to export again a receipt that was exported
    /// in this session already.
    function unlessExported(createdAt, content, proceed) {
        var videos = exporter.exportsOf(createdAt, content === undefined ? "" : content)
        if (videos.length === 0) {
            proceed()
            return
        }
        popAgain.ask(qsTr("This receipt has been exported in this session already:\n%1\nExport it again?")
                     .arg(videos.join("\n")) + I18n.localeNotify, proceed, null)
    }

    /// Asks where to put the export of the three minutes around a receipt, then queues it. It runs at
    /// once, followed by the progress box, when the queue is idle; otherwise it waits its turn, and the
    /// queue shows it.
    function exportAround(createdAt, streamId, streamName, content, highQuality) {
        unlessExported(createdAt, content, function () { askFileAndExport(createdAt, streamId, streamName, content,
                                                                          highQuality) })
    }

    function askFileAndExport(createdAt, streamId, streamName, content, highQuality) {
        saveFileDialog.okCallback = function (url) {
            // The receipt, the camera and the window travel together in the job, whatever the detail
            // box shows by the time the servers answer.
            var followed = exporter.job
            if (exporter.exportReceipt(createdAt, content === undefined ? "" : content, streamId, streamName,
                                       highQuality === true, page.chosenPath(url)) && exporter.job === followed) {
                popDetail.close()
                queuePanel.open()
            }
        }
        saveFileDialog.cancelCallback = function () { }
        var suggested = exporter.suggestedFile(streamName, Utils.addDateTime(createdAt, -90),
                                               Utils.addDateTime(createdAt, 90))
        saveFileDialog.currentFile = suggested
        saveFileDialog.open()
        // A dialog that is built on its first opening (the Widgets one where the platform has no native
        // dialog) starts on its folder alone; once it is open it takes the name.
        if (String(saveFileDialog.currentFile) !== suggested)
            saveFileDialog.currentFile = suggested
    }

    /// The window of one receipt from each of cameras, into a folder asked for once.
    function exportCameras(createdAt, content, cameras, highQuality) {
        unlessExported(createdAt, content, function () {
            askFolder(function (folder) {
                if (exporter.exportCameras(createdAt, content, cameras, highQuality, folder) > 0) {
                    popDetail.close()
                    queuePanel.open()
                }
            })
        })
    }

    /// Asks for a folder, starting in start (a path) or the suggested one, and hands chosen its path.
    function askFolder(chosen, start) {
        folderDialog.okCallback = function (url) { chosen(page.chosenPath(url)) }
        folderDialog.openOn(exporter.folderUrl(start ? start : exporter.suggestedFolder()))
    }

    // The rows of the result list chosen for a batch export, as a set of row numbers.
    property var selection: ({})
    property int selectionAnchor: -1
    readonly property var selectedRows: Object.keys(selection).map(Number).sort(function (a, b) { return a - b })

    function selectRows(rows, keep) {
        var now = keep ? Object.assign({}, selection) : {}
        rows.forEach(function (row) { now[row] = true })
        selection = now
    }

    function toggleRow(row) {
        var now = Object.assign({}, selection)
        if (now[row])
            delete now[row]
        else
            now[row] = true
        selection = now
        selectionAnchor = row
    }

    function selectRange(from, to) {
        var rows = []
        for (var row = Math.min(from, to); row <= Math.max(from, to); ++row)
            rows.push(row)
        selectRows(rows, false)
    }

    /// A click on a row: alone it selects the row and opens it; with Ctrl it adds or removes the row;
    /// with Shift it selects from the row clicked last.
    function rowClicked(row, modifiers) {
        lstResult.currentIndex = row
        lstResult.forceActiveFocus()
        if (modifiers & Qt.ControlModifier) {
            toggleRow(row)
        } else if (modifiers & Qt.ShiftModifier) {
            selectRange(selectionAnchor < 0 ? row : selectionAnchor, row)
        } else {
            selectRows([row], false)
            selectionAnchor = row
            lstResult.currentItem.openDetail()
        }
    }

    /// Every camera known: the receipts' own first, then the video server's.
    function knownCameras(first) {
        var seen = {}
        var all = []
        function add(camera) {
            if (camera && camera.strmId && !seen[camera.strmId]) {
                seen[camera.strmId] = true
                all.push({ strmId: camera.strmId, strmName: camera.strmName })
            }
        }
        first.forEach(add)
        for (var i = 0; i < StreamsList.rowCount(); ++i)
            add(StreamsList.get(i))
        return all
    }

    function exportSelected() {
        var rows = selectedRows
        if (rows.length === 0)
            return
        var own = exporter.camerasOf(posSearching, rows)
        popBatch.rows = rows
        popBatch.receiptCount = rows.length
        popBatch.ownCameraCount = own.length
        popBatch.cameras = knownCameras(own)
        if (popBatch.folder === "")
            popBatch.folder = exporter.suggestedFolder()
        var again = exporter.exportedRows(posSearching, rows)
        if (again.length === 0) {
            popBatch.open()
            return
        }
        popAgain.ask(qsTr("%1 of the %2 receipts chosen have been exported in this session already. Export them again?")
                     .arg(again.length).arg(rows.length) + I18n.localeNotify,
                     function () { popBatch.open() },
                     again.length === rows.length ? null : function () {
                         var kept = Object.assign({}, page.selection)
                         again.forEach(function (row) { delete kept[row] })
                         page.selection = kept
                         page.exportSelected()
                     })
    }

    function exportBatch(rows, ownCameras, cameras, highQuality, folder) {
        var queued = exporter.exportRows(posSearching, rows, ownCameras, cameras, highQuality, folder)
        if (queued > 0) {
            popBatch.close()
            queuePanel.open()
        }
    }

    ExportController {
        id: exporter
        objectName: "exporter"
        onJobChanged: {
            if (job && job.isRunning) {
                popDetail.close()
                downloading.open()
            }
        }
        // The next box opens before the progress box closes, so that the keys go to it.
        onJobEnded: {
            if (job.state === ExportJob.Done) {
                exportDone.videoPath = job.videoPath
                exportDone.open()
            } else if (job.state === ExportJob.Cancelled) {
                page.showError(job.message)
            } else {
                page.showError(qsTr("Export failed: %1").arg(job.message) + I18n.localeNotify)
            }
            downloading.close()
        }
        onRefused: page.showError(message)
        onVerified: page.showError(report)
        // Exports nobody followed: how they went, failures by name, once the queue is empty; the queue
        // panel, when it is open, shows that already.
        onBackgroundEnded: if (!queuePanel.visible)
                               page.showError(summary)
    }

    footer: ExportVerify {
        controller: exporter
    }

    PosSearching {
        id: posSearching
        objectName: "posSearching"
        onErrorOccured: page.showError(message)
        onIsLoadingChanged: popLoading.visible = isLoading
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
                    visible: page.selectedRows.length > 1
                    text: qsTr("%1 selected").arg(page.selectedRows.length) + I18n.localeNotify
                }
                Button {
                    objectName: "btnExportSelected"
                    enabled: page.selectedRows.length > 0
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
                Keys.onReturnPressed: if (currentItem) currentItem.openDetail()
                Keys.onEnterPressed: if (currentItem) currentItem.openDetail()
                // Shift and the arrows select a run of rows; Ctrl+A selects them all (Space, on the row
                // itself, ticks one).
                Keys.onPressed: {
                    if (event.key === Qt.Key_A && (event.modifiers & Qt.ControlModifier)) {
                        page.selectRange(0, count - 1)
                        event.accepted = true
                    } else if ((event.key === Qt.Key_Up || event.key === Qt.Key_Down)
                               && (event.modifiers & Qt.ShiftModifier) && count > 0) {
                        if (page.selectionAnchor < 0)
                            page.selectionAnchor = Math.max(currentIndex, 0)
                        currentIndex = Math.max(0, Math.min(count - 1,
                                                            currentIndex + (event.key === Qt.Key_Down ? 1 : -1)))
                        page.selectRange(page.selectionAnchor, currentIndex)
                        event.accepted = true
                    } else if (event.key === Qt.Key_Escape && page.selectedRows.length > 0) {
                        page.selection = {}
                        event.accepted = true
                    }
                }
                // A new search starts a new choice.
                Connections {
                    target: posSearching
                    function onModelAboutToBeReset() {
                        // Only when there is a choice: the rows' texts follow it.
                        if (page.selectedRows.length > 0)
                            page.selection = {}
                        page.selectionAnchor = -1
                    }
                }

                delegate: ItemDelegate {
                    id: resultRow
                    width: lstResult.width
                    highlighted: ListView.isCurrentItem
                    readonly property bool selected: page.selection[index] === true
                    // Bound to the count of finished exports, so that the mark comes when one finishes.
                    readonly property bool exported: exporter.queue.doneCount > 0
                                                     && exporter.exportedRows(posSearching, [index]).length > 0
                    // The list takes Tab once; the arrow keys move between its rows.
                    focusPolicy: Qt.NoFocus
                    Accessible.focusable: true
                    Accessible.selected: selected
                    Accessible.name: [Utils.formatDateTime(posCreatedAt),
                                      posStreams.map(function (s) { return s.strmName }).join(", "),
                                      posSearching.matchLine(posContentOneLine, posSearching.searchText)]
                                     .concat(exported ? [qsTr("exported") + I18n.localeNotify] : [])
                                     .concat(selected ? [qsTr("selected") + I18n.localeNotify] : [])
                                     .join(", ")
                    function openDetail() {
                        page.openReceipt(posCreatedAt, posContent, posStreams, "")
                    }
                    // Only from a screen reader's press: the mouse goes to the area below.
                    onClicked: page.rowClicked(index, Qt.NoModifier)
                    // The current row has the keys: Space ticks it for "Export selected…" rather than
                    // pressing it (Return opens it).
                    Keys.onSpacePressed: page.toggleRow(index)

                    // Below the row's content: the camera strip, when it scrolls, keeps its presses.
                    MouseArea {
                        objectName: "rowMouse"
                        anchors.fill: parent
                        z: -1
                        onClicked: page.rowClicked(index, mouse.modifiers)
                    }
                    Rectangle {
                        objectName: "selectedMark"
                        anchors.fill: parent
                        visible: resultRow.selected
                        color: "#3874d8"
                        opacity: 0.25
                    }

                    contentItem: RowLayout {
                        spacing: 8
                        Label {
                            objectName: "lblCreatedAt"
                            Layout.preferredWidth: 120
                            Layout.maximumWidth: 120
                            color: "red"
                            // The whole date and time in the width the row gives it.
                            fontSizeMode: Text.HorizontalFit
                            minimumPixelSize: 8
                            minimumPointSize: 6
                            verticalAlignment: Text.AlignVCenter
                            text: Utils.formatDateTime(posCreatedAt)
                        }
                        // Exported in this session already.
                        Label {
                            objectName: "lblExported"
                            visible: resultRow.exported
                            color: "darkgreen"
                            text: "\u2714"
                            ToolTip.visible: exportedHover.hovered
                            ToolTip.text: qsTr("Exported in this session") + I18n.localeNotify
                            HoverHandler {
                                id: exportedHover
                            }
                        }
                        Flickable {
                            Layout.preferredWidth: 100
                            Layout.maximumWidth: 100
                            Layout.preferredHeight: streamRow.height
                            clip: true
                            // Only a strip that overflows takes the press; otherwise the row gets the click.
                            interactive: contentWidth > width
                            flickableDirection: Flickable.HorizontalFlick
                            contentWidth: streamRow.width
                            contentHeight: streamRow.height

                            Row {
                                id: streamRow
                                objectName: "streamRow"
                                spacing: 5
                                Repeater {
                                    model: posStreams
                                    Label {
                                        text: modelData.strmName
                                        color: "transparent"
                                        style: Text.Outline
                                        styleColor: "blue"
                                    }
                                }
                            }
                        }
                        Label {
                            id: lblContent
                            objectName: "lblContent"
                            // About as many characters as the width shows; the match is kept among them.
                            readonly property int visibleChars: Math.floor(width / contentMetrics.averageCharacterWidth)
                            Layout.fillWidth: true
                            elide: Text.ElideRight
                            textFormat: Text.StyledText
                            text: posSearching.matchMarkup(posContentOneLine, posSearching.searchText, visibleChars)
                            FontMetrics {
                                id: contentMetrics
                                font: lblContent.font
                            }
                        }
                    }
                }
            }
        }
    }

    Popup {
        id: popDetail
        objectName: "popDetail"
        property date createdAt: new Date()
        property alias message: txtContent.text
        property var streams: []
        // Over the window rather than this page: a receipt can be opened, and its export followed, from
        // the recordings page as well, while this page is out of view.
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: parent.width * 0.8
        height: parent.height * 0.8
        modal: true
        dim: true
        // Keys go to the box while it is open (Tab through it, Escape closes it).
        focus: true

        ColumnLayout {
            anchors.fill: parent

            Label {
                text: qsTr("Created at") + I18n.localeNotify
                font.bold: true
            }
            Label {
                objectName: "lblDetailCreatedAt"
                color: "red"
                text: Utils.formatDateTime(popDetail.createdAt)
            }
            Label {
                text: qsTr("Content") + I18n.localeNotify
                font.bold: true
            }
            Rectangle {
                Layout.fillWidth: true
                Layout.fillHeight: true
                border.width: 1
                border.color: "lightgrey"

                ScrollView {
                    anchors.fill: parent
                    anchors.margins: 1
                    clip: true
                    TextArea {
                        id: txtContent
                        objectName: "txtContent"
                        readOnly: true
                        activeFocusOnTab: true
                        Accessible.name: qsTr("Content") + I18n.localeNotify
                        // Receipts line their prices up in columns.
                        font.family: "monospace"
                    }
                }
            }
            Label {
                objectName: "lblWindow"
                text: "3 minutes around: %1 - %2"
                    .arg(Utils.formatDateTime(Utils.addDateTime(popDetail.createdAt, -90)))
                    .arg(Utils.formatDateTime(Utils.addDateTime(popDetail.createdAt, 90)))
            }
            ComboBox {
                id: cbStream
                objectName: "cbStream"
                Layout.fillWidth: true
                model: popDetail.streams
                textRole: "strmName"
                valueRole: "strmId"
                Accessible.name: qsTr("Camera") + I18n.localeNotify
            }
            ComboBox {
                id: cbQuality
                objectName: "cbQuality"
                Layout.fillWidth: true
                // The video server's usual stream, or its high-quality one (a larger download).
                model: [qsTr("Standard quality (hi=0)") + I18n.localeNotify,
                    qsTr("High quality (hi=1)") + I18n.localeNotify]
                Accessible.name: qsTr("Video quality") + I18n.localeNotify
            }
            // The same window from several cameras in one go, into one folder.
            CameraTicks {
                id: detailTicks
                objectName: "detailTicks"
                Layout.fillWidth: true
                cameras: page.knownCameras(popDetail.streams)
                initiallyTicked: popDetail.streams.map(function (camera) { return camera.strmId })
            }
            Label {
                id: lblNotExportable
                objectName: "lblNotExportable"
                Layout.fillWidth: true
                visible: text !== ""
                wrapMode: Text.Wrap
                color: "darkred"
                text: exporter.refusalFor(popDetail.createdAt, popDetail.streams) + I18n.localeNotify
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
            // Wraps onto a second line where the window is too narrow for the four buttons.
            Flow {
                Layout.fillWidth: true
                spacing: 6
                Button {
                    objectName: "btnClose"
                    text: qsTr("Close") + I18n.localeNotify
                    onClicked: popDetail.close()
                }
                Button {
                    objectName: "btnShowOnTimeline"
                    text: qsTr("Show on timeline") + I18n.localeNotify
                    enabled: cbStream.currentIndex >= 0 && !isNaN(popDetail.createdAt.getTime())
                    Accessible.description: qsTr("The recordings of the chosen camera on the receipt's day, with the minutes around it selected") + I18n.localeNotify
                    onClicked: {
                        popDetail.close()
                        page.showOnTimelineRequested(cbStream.currentValue, popDetail.createdAt)
                    }
                }
                // A disabled button hears no hover: the item around it shows why it is disabled.
                Item {
                    implicitWidth: btnExport.implicitWidth
                    implicitHeight: btnExport.implicitHeight
                    HoverHandler {
                        id: exportHover
                    }
                    Button {
                        id: btnExport
                        objectName: "btnExport"
                        anchors.fill: parent
                        enabled: lblNotExportable.text === ""
                        text: qsTr("Download 3 mins around") + I18n.localeNotify
                        ToolTip.visible: exportHover.hovered && !enabled
                        ToolTip.text: lblNotExportable.text
                        Accessible.description: lblNotExportable.text
                        onClicked: page.exportAround(popDetail.createdAt,
                                                     cbStream.currentValue === undefined ? "" : cbStream.currentValue,
                                                     cbStream.currentText, popDetail.message,
                                                     cbQuality.currentIndex === 1)
                    }
                }
                Button {
                    objectName: "btnExportTicked"
                    // A receipt without a valid time has no window, whatever the cameras.
                    enabled: detailTicks.tickedCameras.length > 0
                             && exporter.refusalFor(popDetail.createdAt, detailTicks.tickedCameras) === ""
                    text: qsTr("Export from the ticked cameras\u2026") + I18n.localeNotify
                    Accessible.name: qsTr("Export the window from every ticked camera") + I18n.localeNotify
                    onClicked: page.exportCameras(popDetail.createdAt, popDetail.message, detailTicks.tickedCameras,
                                                  cbQuality.currentIndex === 1)
                }
            }
        }
    }

    ExportProgress {
        id: downloading
        objectName: "downloading"
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: parent.width * 0.6
        job: exporter.job
        onCancelRequested: exporter.cancel()
    }

    ExportBatch {
        id: popBatch
        objectName: "popBatch"
        /// The rows of the result list to export.
        property var rows: []
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: parent.width * 0.7
        onChooseFolderRequested: page.askFolder(function (folder) { popBatch.folder = folder }, popBatch.folder)
        onExportRequested: page.exportBatch(rows, ownCameras, cameras, highQuality, folder)
    }

    ExportQueuePanel {
        id: queuePanel
        objectName: "queuePanel"
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: parent.width * 0.85
        height: parent.height * 0.85
        controller: exporter
    }

    // A receipt exported in this session already: asked before it is exported again.
    Popup {
        id: popAgain
        objectName: "popAgain"
        property alias question: lblAgain.text
        property var yesAction: null
        property var skipAction: null
        parent: Overlay.overlay
        anchors.centerIn: parent
        modal: true
        dim: true
        focus: true

        function ask(text, yes, skip) {
            question = text
            yesAction = yes
            skipAction = skip
            open()
        }
        function answer(then) {
            close()
            if (then)
                then()
        }

        ColumnLayout {
            anchors.fill: parent
            Label {
                id: lblAgain
                objectName: "lblAgain"
                Layout.maximumWidth: page.width * 0.8
                wrapMode: Text.Wrap
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
            RowLayout {
                Layout.alignment: Qt.AlignHCenter
                Button {
                    objectName: "btnAgainYes"
                    focus: true
                    text: qsTr("Export again") + I18n.localeNotify
                    Accessible.name: text
                    onClicked: popAgain.answer(popAgain.yesAction)
                }
                Button {
                    objectName: "btnAgainSkip"
                    visible: popAgain.skipAction !== null
                    text: qsTr("Leave those out") + I18n.localeNotify
                    Accessible.name: qsTr("Export only those not exported yet") + I18n.localeNotify
                    onClicked: popAgain.answer(popAgain.skipAction)
                }
                Button {
                    objectName: "btnAgainNo"
                    text: qsTr("Cancel") + I18n.localeNotify
                    Accessible.name: qsTr("Cancel, export nothing") + I18n.localeNotify
                    onClicked: popAgain.answer(null)
                }
            }
        }
    }

    ExportDone {
        id: exportDone
        objectName: "exportDone"
        parent: Overlay.overlay
        anchors.centerIn: parent
        onOpenFolderRequested: exporter.openFolder(videoPath)
    }
}
