import QtQuick 2.15
import QtQuick.Controls 2.15
import QtTest 1.15
import Tillmark 1.0
import "qrc:/"

Item {
    id: root
    width: 800
    height: 600

    DialogsStandIn {
        id: standIn
    }

    // The boxes of the export queue, which the window shows over every page.
    Component {
        id: boxesComponent
        ExportBoxes { }
    }

    Component {
        id: searchComponent
        PageSearch {
            anchors.fill: parent
            dialogs: standIn
        }
    }

    // What the window's message box would show.
    SignalSpy {
        id: messageSpy
        target: Notifier
        signalName: "messageChanged"
    }

    // The window's busy box.
    SignalSpy {
        id: loadingSpy
        target: Notifier
        signalName: "busyChanged"
    }

    TestCase {
        id: test
        name: "Search"
        when: windowShown

        // Receipts in the machine's own time (no zone in "received_at"), so that they read the same in
        // any zone. The server lists them out of order.
        readonly property string receipts: JSON.stringify([
            {
                text: "MILK 1.00\nBREAD 2.00\nTOTAL 3.00", received_at: "2021-06-01T10:00:00",
                device: { streams: [{ nx_id: "cam-1", name: "Entrance" }] }
            },
            {
                text: "COFFEE 4.50\nTOTAL 4.50", received_at: "2021-06-01T12:00:00",
                device: { streams: [{ nx_id: "cam-1", name: "Entrance" }, { nx_id: "cam-2", name: "Till 1 Overhead" }] }
            },
            { text: "REFUND", received_at: "2021-06-01T11:00:00", device: { streams: [] } }
        ])
        property var page: null
        property var boxes: null

        function init() {
            testServer.reset()
            AppState.posBase = "http://" + testServer.hostPort
            AppState.base = "http://" + testServer.hostPort
            AppState.user = "admin"
            AppState.password = "Pelmo4826"
            // The one queue outlives each page: every test starts as a new login does.
            Exports.forget()
            while (Notifier.message !== "")
                Notifier.dismiss()
            standIn.reset()
            boxes = createTemporaryObject(boxesComponent, root)
            messageSpy.clear()
            loadingSpy.clear()
            page = createTemporaryObject(searchComponent, root)
            verify(page)
            waitForRendering(page) // laid out, so that clicks land on the buttons
        }

        function cleanup() {
            AppState.password = "Pelmo4826"
        }

        function searchFor(text) {
            findChild(page, "txtText").text = text
            mouseClick(findChild(page, "btnSearch"))
        }

        /// Searches with the server answering the test receipts; the rows in view.
        function showReceipts() {
            testServer.route("/poses/", 200, receipts, 0)
            searchFor("TOTAL")
            tryCompare(findChild(page, "lstResult"), "count", 3, 5000)
            tryCompare(Notifier, "busy", false)
        }

        function row(index) {
            var item = findChild(page, "lstResult").itemAtIndex(index)
            verify(item, "row " + index)
            return item
        }

        function openRow(index) {
            var detail = findChild(page, "popDetail")
            mouseClick(row(index))
            tryCompare(detail, "opened", true)
            return detail
        }

        function cameraNames(item) {
            var names = []
            var strip = findChild(item, "streamRow")
            for (var i = 0; i < strip.children.length; ++i) {
                if (strip.children[i].text !== undefined)
                    names.push(strip.children[i].text)
            }
            return names
        }

        function test_shortTextIsRefused_data() {
            return [
                { tag: "two letters between blanks", text: "  ab  " },
                { tag: "two letters", text: "ab" },
                { tag: "blanks only", text: "      " },
                { tag: "nothing", text: "" },
            ]
        }

        function test_shortTextIsRefused(data) {
            testServer.route("/poses/", 200, receipts, 0)
            searchFor(data.text)
            messageSpy.wait(2000)
            compare(Notifier.message, "The search text must at least 3 characters")
            wait(200)
            compare(testServer.requestCount(), 0)
            compare(findChild(page, "lstResult").count, 0)
            compare(loadingSpy.count, 0)
        }

        function test_textIsSentAsTyped_data() {
            return [
                { tag: "three letters after a blank", text: " abc", target: "/poses/?text__icontains=%20abc" },
                { tag: "three letters", text: "abc", target: "/poses/?text__icontains=abc" },
                { tag: "blanks around three letters", text: " abc ", target: "/poses/?text__icontains=%20abc%20" },
            ]
        }

        function test_textIsSentAsTyped(data) {
            testServer.route("/poses/", 200, "[]", 0)
            searchFor(data.text)
            tryVerify(function () { return testServer.requestCount() === 1 }, 5000)
            compare(testServer.lastTarget(), data.target)
            compare(messageSpy.count, 0)
        }

        // Days bound the search in the same request; without them the request is the plain one.
        function test_daysBoundTheSearch() {
            testServer.route("/poses/", 200, "[]", 0)
            findChild(page, "chkFrom").checked = true
            findChild(page, "dayFrom").setDay(new Date(2021, 5, 1))
            findChild(page, "chkTo").checked = true
            findChild(page, "dayTo").setDay(new Date(2021, 5, 3))
            searchFor("milk")
            tryVerify(function () { return testServer.requestCount() === 1 }, 5000)
            compare(testServer.lastTarget(), "/poses/?text__icontains=milk&received_at__range_after="
                    + new Date(2021, 5, 1).toISOString() + "&received_at__range_before="
                    + new Date(2021, 5, 3, 23, 59, 59, 999).toISOString())

            // The days the wrong way round are refused before anything is asked.
            findChild(page, "dayFrom").setDay(new Date(2021, 5, 4))
            searchFor("milk")
            messageSpy.wait(2000)
            compare(Notifier.message, "The \u201cfrom\u201d day is after the \u201cto\u201d day.")
            // One day alone bounds one end.
            findChild(page, "chkTo").checked = false
            searchFor("milk")
            tryVerify(function () { return testServer.requestCount() === 2 }, 5000)
            compare(testServer.lastTarget(), "/poses/?text__icontains=milk&received_at__range_after="
                    + new Date(2021, 5, 4).toISOString())
            findChild(page, "chkFrom").checked = false
            searchFor("milk")
            tryVerify(function () { return testServer.requestCount() === 3 }, 5000)
            compare(testServer.lastTarget(), "/poses/?text__icontains=milk")
        }

        function test_returnInTheFieldSearches() {
            testServer.route("/poses/", 200, "[]", 0)
            var field = findChild(page, "txtText")
            field.text = "milk"
            field.forceActiveFocus()
            keyClick(Qt.Key_Return)
            tryVerify(function () { return testServer.requestCount() === 1 }, 5000)
            compare(testServer.lastTarget(), "/poses/?text__icontains=milk")
        }

        function test_busyBoxCoversTheSearch() {
            testServer.route("/poses/", 200, receipts, 600)
            searchFor("TOTAL")
            tryCompare(Notifier, "busy", true, 2000)
            tryCompare(Notifier, "busy", false, 5000)
            compare(findChild(page, "lstResult").count, 3)
            compare(loadingSpy.count, 2)
        }

        function test_rowsNewestFirst() {
            showReceipts()
            // The searched text is marked where it first occurs; a screen reader hears that line, unmarked.
            var expected = [
                { time: "2021-06-01T12:00:00", cameras: ["Entrance", "Till 1 Overhead"],
                  text: "COFFEE 4.50\\n<b><u>TOTAL</u></b> 4.50", heard: "TOTAL 4.50" },
                { time: "2021-06-01T11:00:00", cameras: [], text: "REFUND", heard: "REFUND" },
                { time: "2021-06-01T10:00:00", cameras: ["Entrance"],
                  text: "MILK 1.00\\nBREAD 2.00\\n<b><u>TOTAL</u></b> 3.00", heard: "TOTAL 3.00" },
            ]
            for (var i = 0; i < expected.length; ++i) {
                var item = row(i)
                compare(findChild(item, "lblCreatedAt").text, expected[i].time, "row " + i)
                compare(String(findChild(item, "lblCreatedAt").color), "#ff0000")
                compare(cameraNames(item), expected[i].cameras, "row " + i)
                var content = findChild(item, "lblContent")
                compare(content.text, expected[i].text, "row " + i)
                compare(content.Accessible.name, expected[i].heard, "row " + i)
                compare(content.lineCount, 1)
            }
        }

        function test_countLineSaysWhatWasFound_data() {
            return [
                { tag: "none", body: "[]", text: "xyz", line: "No receipt contains \u201cxyz\u201d" },
                { tag: "one", body: JSON.stringify([JSON.parse(receipts)[0]]), text: "milk", line: "1 receipt" },
                { tag: "three", body: receipts, text: "TOTAL", line: "3 receipts" },
            ]
        }

        function test_countLineSaysWhatWasFound(data) {
            var line = findChild(page, "lblCount")
            verify(!line.visible, "nothing to say before a search")
            testServer.route("/poses/", 200, data.body, 0)
            searchFor(data.text)
            tryCompare(line, "text", data.line, 5000)
            verify(line.visible)
        }

        function test_searchErrorGoesToTheMessageBox() {
            showReceipts()
            testServer.route("/poses/", 500, "broken", 0)
            searchFor("TOTAL")
            messageSpy.wait(5000)
            verify(Notifier.message.length > 0)
            verify(Notifier.message.indexOf("The search text") < 0)
            // The earlier rows stay.
            compare(findChild(page, "lstResult").count, 3)
            tryCompare(Notifier, "busy", false)
        }

        function test_rowOpensTheDetail() {
            showReceipts()
            var detail = openRow(0)
            compare(findChild(page, "txtContent").text, "COFFEE 4.50\nTOTAL 4.50")
            verify(findChild(page, "txtContent").readOnly)
            compare(findChild(page, "lblDetailCreatedAt").text, "2021-06-01T12:00:00")
            compare(findChild(page, "lblWindow").text, "3 minutes around: 2021-06-01T11:58:30 - 2021-06-01T12:01:30")
            var cameras = findChild(page, "cbStream")
            compare(cameras.count, 2)
            compare(cameras.currentText, "Entrance")
            compare(cameras.currentValue, "cam-1")
            cameras.currentIndex = 1
            compare(cameras.currentValue, "cam-2")

            // Another record replaces what the box shows, its cameras included.
            mouseClick(findChild(page, "btnClose"))
            tryCompare(detail, "visible", false)
            openRow(2)
            compare(findChild(page, "txtContent").text, "MILK 1.00\nBREAD 2.00\nTOTAL 3.00")
            compare(findChild(page, "lblWindow").text, "3 minutes around: 2021-06-01T09:58:30 - 2021-06-01T10:01:30")
            compare(cameras.count, 1)
            compare(cameras.currentValue, "cam-1")

            // Escape closes it as well.
            keyClick(Qt.Key_Escape)
            tryCompare(detail, "visible", false)
        }

        function test_suggestedFileName_data() {
            return [
                { tag: "first camera", camera: 0, name: "Entrance" },
                { tag: "name with blanks", camera: 1, name: "Till 1 Overhead" },
                { tag: "name with marks of its own", camera: 2, name: "Desk %2 & %1" },
                { tag: "name with a path in it", camera: 3, name: "Till 1_2_ east" },
            ]
        }

        function test_suggestedFileName(data) {
            testServer.route("/poses/", 200, JSON.stringify([{
                text: "TOTAL 1.00", received_at: "2021-06-01T12:00:00",
                device: { streams: [{ nx_id: "cam-1", name: "Entrance" }, { nx_id: "cam-2", name: "Till 1 Overhead" },
                                    { nx_id: "cam-3", name: "Desk %2 & %1" }, { nx_id: "cam-4", name: "Till 1/2: east" }] }
            }]), 0)
            searchFor("TOTAL")
            tryCompare(findChild(page, "lstResult"), "count", 1, 5000)
            openRow(0)
            findChild(page, "cbStream").currentIndex = data.camera
            mouseClick(findChild(page, "btnExport"))
            compare(standIn.saveCount, 1)
            // In the Videos folder, or home where there is none; the camera's name made safe for a file.
            var suggested = decodeURIComponent(String(standIn.offered))
            var name = "/" + data.name + "-20210601_115830-20210601_120130"
            verify(suggested.indexOf("file:///") === 0 && suggested.indexOf(name) === suggested.length - name.length,
                   suggested)
            // Nothing is asked of the servers before a file is chosen.
            wait(100)
            compare(testServer.requestCount(), 1)
        }

        function test_cancelDoesNothing() {
            showReceipts()
            var detail = openRow(0)
            var before = testServer.requestCount()
            mouseClick(findChild(page, "btnExport"))
            compare(standIn.saveCount, 1)
            standIn.reset() // cancelled: the dialog never answers
            wait(300)
            verify(detail.visible)
            compare(testServer.requestCount(), before)
            compare(Exports.job, null)
            verify(!findChild(boxes, "downloading").visible)
            compare(messageSpy.count, 0)
        }

        /// Starts the export of the newest receipt from its second camera into a file of /tmp.
        function startExport(quality) {
            var detail = openRow(0)
            findChild(page, "cbStream").currentIndex = 1
            findChild(page, "cbQuality").currentIndex = quality
            mouseClick(findChild(page, "btnExport"))
            standIn.acceptSave("file:///tmp/My%20export%20clip.mp4")
            return detail
        }

        // From "Save" on the progress box shows the export; the camera, window and quality chosen then
        // are the ones asked for, whatever the detail box shows afterwards; a refused clip is said in words.
        function test_exportAsksForWhatWasChosen_data() {
            return [
                { tag: "standard stream", quality: 0, hi: 0 },
                { tag: "high quality", quality: 1, hi: 1 },
            ]
        }

        function test_exportAsksForWhatWasChosen(data) {
            showReceipts()
            testServer.route("/poses/", 200, receipts, 800)
            testServer.route("/hls/cam-2.mkv", 404, "no such clip", 0)
            var detail = startExport(data.quality)
            findChild(page, "cbStream").currentIndex = 0
            var box = findChild(boxes, "downloading")
            tryCompare(box, "opened", true, 2000)
            verify(!detail.visible)
            verify(findChild(boxes, "lblExportPhase").text.indexOf("receipts") > 0)
            verify(findChild(boxes, "barExport").indeterminate)
            compare(findChild(boxes, "txtFrames").text, "Processed: 0 frame(s)")

            var from = new Date(2021, 5, 1, 11, 58, 30)
            var windowTarget = "/poses/?received_at__range_after=" + from.toISOString()
                    + "&received_at__range_before=" + new Date(2021, 5, 1, 12, 1, 30).toISOString()
            var clipTarget = "/hls/cam-2.mkv?pos=" + from.getTime() + "&duration=180&hi=" + data.hi
            messageSpy.wait(10000)
            compare(Notifier.message.indexOf("Export failed: The clip could not be fetched: "), 0, Notifier.message)
            verify(Notifier.message.indexOf("Not Found") > 0, Notifier.message)
            tryCompare(box, "visible", false)
            compare(testServer.lastTarget(), clipTarget)
            verify(testServer.targets().indexOf(windowTarget) >= 0, testServer.targets())
        }

        function test_progressBoxClosesOnlyByCancel() {
            showReceipts()
            testServer.route("/poses/", 200, receipts, 3000)
            startExport(0)
            var box = findChild(boxes, "downloading")
            tryCompare(box, "opened", true, 2000)
            keyClick(Qt.Key_Escape)
            mouseClick(root, 5, 5)
            verify(box.visible)
            var cancel = findChild(boxes, "btnCancelExport")
            compare(cancel.Accessible.name, "Cancel the export")
            mouseClick(cancel)
            tryCompare(box, "visible", false)
            messageSpy.wait(2000)
            compare(Notifier.message, "Export cancelled")
            verify(!Exports.isBusy)
        }

        // A second export while one runs is not refused: it waits its turn in the queue, and the progress
        // box stays with the first.
        function test_secondExportWaitsItsTurn() {
            showReceipts()
            testServer.route("/poses/", 200, receipts, 3000)
            startExport(0)
            var first = Exports.job
            tryCompare(findChild(boxes, "downloading"), "opened", true, 2000)
            page.exportAround(new Date(2021, 5, 1, 10, 0, 0), "cam-1", "Entrance", "MILK", false)
            compare(standIn.saveCount, 2)
            standIn.acceptSave("file:///tmp/second%20export.mp4")
            compare(messageSpy.count, 0)
            compare(Exports.queue.pendingCount, 2)
            compare(Exports.job, first)
            var second = Exports.queue.jobAt(1)
            compare(second.state, ExportJob.Waiting)
            compare(second.videoPath, "/tmp/second export.mp4")
            tryCompare(findChild(boxes, "queuePanel"), "opened", true)
            Exports.cancelAll()
            compare(Exports.queue.pendingCount, 0)
            compare(second.state, ExportJob.Cancelled)
        }

        // Ctrl and Shift with a click, Ctrl+A, Space, Shift and the arrows, Escape: the rows chosen for
        // "Export selected…"; only a plain click opens the receipt.
        function test_choosingMany() {
            showReceipts()
            var detail = findChild(page, "popDetail")
            var list = findChild(page, "lstResult")
            var exportSelected = findChild(page, "btnExportSelected")
            var selection = findChild(page, "selection")
            verify(!exportSelected.enabled)
            mouseClick(row(0), undefined, undefined, Qt.LeftButton, Qt.ControlModifier)
            mouseClick(row(2), undefined, undefined, Qt.LeftButton, Qt.ControlModifier)
            compare(selection.rows, [0, 2])
            verify(row(2).Accessible.name.indexOf(", selected") > 0, row(2).Accessible.name)
            compare(findChild(page, "lblSelected").text, "2 selected")
            verify(exportSelected.enabled)
            mouseClick(row(0), undefined, undefined, Qt.LeftButton, Qt.ControlModifier)
            compare(selection.rows, [2])
            // From the row clicked last, the one just left out, to the one Shift-clicked.
            mouseClick(row(2), undefined, undefined, Qt.LeftButton, Qt.ShiftModifier)
            compare(selection.rows, [0, 1, 2])
            verify(!detail.visible)
            verify(list.activeFocus)

            keyClick(Qt.Key_Escape)
            compare(selection.rows, [])
            list.currentIndex = 0
            keyClick(Qt.Key_Space)
            compare(selection.rows, [0])
            keyClick(Qt.Key_Down, Qt.ShiftModifier)
            compare(list.currentIndex, 1)
            compare(selection.rows, [0, 1])
            keyClick(Qt.Key_Down, Qt.ShiftModifier)
            keyClick(Qt.Key_Up, Qt.ShiftModifier)
            compare(selection.rows, [0, 1])
            keyClick(Qt.Key_Escape)
            keyClick(Qt.Key_A, Qt.ControlModifier)
            compare(selection.rows, [0, 1, 2])
            verify(!detail.visible)

            // A new search starts a new choice; a plain click chooses its row alone and opens it.
            searchFor("TOTAL")
            tryVerify(function () { return selection.rows.length === 0 }, 5000)
            tryCompare(Notifier, "busy", false)
            compare(list.count, 3)
            openRow(1)
            compare(selection.rows, [1])
        }

        // The detail box exports its window from every ticked camera, into one folder asked for once, as
        // one batch in the queue.
        function test_detailExportsFromTickedCameras() {
            showReceipts()
            testServer.route("/poses/", 200, receipts, 3000)
            openRow(0)
            var ticks = findChild(page, "detailTicks")
            compare(ticks.tickedCameras.map(function (c) { return c.strmName }), ["Entrance", "Till 1 Overhead"])
            tryVerify(function () { return findChild(ticks, "chkCamera1").x > 0 }) // laid out side by side
            mouseClick(findChild(ticks, "chkCamera0"))
            compare(ticks.tickedCameras.map(function (c) { return c.strmName }), ["Till 1 Overhead"])
            mouseClick(findChild(ticks, "chkCamera0"))
            mouseClick(findChild(page, "btnExportTicked"))
            compare(standIn.folderCount, 1)
            compare(standIn.saveCount, 0)
            standIn.acceptFolder("file:///tmp")
            var queue = Exports.queue
            compare(queue.rowCount(), 2)
            compare(Exports.job, null) // nobody follows a batch: the queue shows it
            tryCompare(findChild(boxes, "queuePanel"), "opened", true)
            verify(!findChild(page, "popDetail").visible)
            compare(queue.jobAt(0).videoPath, "/tmp/Entrance-20210601_115830-20210601_120130.mp4")
            compare(queue.jobAt(1).videoPath, "/tmp/Till 1 Overhead-20210601_115830-20210601_120130.mp4")
            compare(queue.pendingCount, 2)
            Exports.cancelAll()
            compare(queue.pendingCount, 0)
            compare(queue.jobAt(1).state, ExportJob.Cancelled)
            // A new login starts with none of this session's exports.
            Exports.forget()
            compare(queue.rowCount(), 0)
            compare(findChild(boxes, "lblQueueSummary").text, "Nothing exported yet in this session.")
        }

        function test_unexportableReceipt() {
            showReceipts()
            openRow(1)
            compare(findChild(page, "cbStream").count, 0)
            var button = findChild(page, "btnExport")
            verify(!button.enabled)
            var reason = "This receipt names no camera, so there is no video to export."
            compare(findChild(page, "lblNotExportable").text, reason)
            compare(button.ToolTip.text, reason)
            mouseClick(button)
            compare(standIn.saveCount, 0)

            // A receipt with a camera but no time it can be placed at.
            testServer.route("/poses/", 200, JSON.stringify([{ text: "NO TIME", received_at: "yesterday",
                device: { streams: [{ nx_id: "cam-1", name: "Entrance" }] } }]), 0)
            mouseClick(findChild(page, "btnClose"))
            searchFor("TIME")
            tryCompare(findChild(page, "lstResult"), "count", 1, 5000)
            openRow(0)
            verify(!button.enabled)
            compare(findChild(page, "lblNotExportable").text,
                    "This receipt has no valid time, so there is no window to export.")
        }

        function test_newControlsReachable_data() {
            return [
                { tag: "quality", name: "cbQuality", accessible: "Video quality" },
                { tag: "verify", name: "btnVerifyExport", accessible: "Verify an exported evidence package" },
            ]
        }

        function test_newControlsReachable(data) {
            showReceipts()
            if (data.name === "cbQuality")
                openRow(0)
            var control = findChild(page, data.name)
            compare(control.Accessible.name, data.accessible)
            verify(control.enabled)
            verify(control.focusPolicy & Qt.TabFocus)
        }
    }
}
