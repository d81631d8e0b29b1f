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

    Component {
        id: directionComponent
        PageDirection {
            anchors.fill: parent
            dialogs: standIn
        }
    }

    SignalSpy {
        id: loadedSpy
        signalName: "loadingFinished"
    }

    SignalSpy {
        id: paintedSpy
        signalName: "painted"
    }

    // What the window's message box would show.
    SignalSpy {
        id: messageSpy
        target: Notifier
        signalName: "messageChanged"
    }

    TestCase {
        id: test
        name: "Timeline"
        when: windowShown

        // A day without a daylight-saving change, so that it has 1440 minutes in any zone.
        readonly property date day: new Date(2026, 11, 7)
        property var page: null
        property var canvas: null
        property var view: null
        property var area: null

        function init() {
            while (Notifier.message !== "")
                Notifier.dismiss()
            standIn.reset()
        }

        function midnight() {
            return Utils.startDayTimestamp(day)
        }

        function periodsBody(periods) {
            var list = periods.map(function (p) {
                return { startTimeMs: String(p[0]), durationMs: String(p[1]) }
            })
            return JSON.stringify({ error: "0", errorString: "", reply: [{ server: "vms", periods: list }] })
        }

        function serve(periods, receipts) {
            testServer.reset()
            AppState.base = "http://" + testServer.hostPort
            testServer.route("/api/getTime", 200,
                             '{"error":"0","errorString":"","reply":{"timeZoneOffset":"3600000"}}', 0)
            testServer.route("/ec2/getCamerasEx", 200,
                             '[{"id":"cam-1","name":"Entrance"},{"id":"cam-2","name":"Car Park"}]', 0)
            testServer.route("/ec2/recordedTimePeriods", 200, periodsBody(periods), 0)
            AppState.posBase = "http://" + testServer.hostPort
            testServer.route("/poses/", 200, receipts || "[]", 0)
        }

        // PageDirection with the first camera chosen on the test day, its periods and receipts loaded.
        function openTimeline(periods, receipts) {
            serve(periods, receipts)
            page = createTemporaryObject(directionComponent, root)
            verify(page)
            var list = findChild(page, "lstStreams")
            // The camera list is a singleton that still holds the rows of the last test: wait for this
            // page's own load, which follows the server time.
            tryVerify(function () {
                return testServer.lastTarget() === "/ec2/getCamerasEx" && !StreamsList.isLoading
            }, 5000)
            compare(list.count, 2)
            compare(list.currentIndex, -1)
            verify(!findChild(page, "timelinePane").visible, "no timeline before a camera is chosen")
            // No camera yet: a new date loads nothing.
            var before = testServer.requestCount()
            findChild(page, "datePicker").selectedDate = day
            compare(testServer.requestCount(), before)

            loadedSpy.clear()
            loadedSpy.target = findChild(page, "recordingsList")
            waitForRendering(list)
            mouseClick(list.itemAtIndex(0))
            compare(list.currentIndex, 0)
            loadedSpy.wait(5000)
            verify(findChild(page, "timelinePane").visible)
            var periodsAsked = testServer.targets().filter(function (target) {
                return target.indexOf("/ec2/recordedTimePeriods?cameraId=cam-1&") === 0
            })
            compare(periodsAsked.length, 1, testServer.targets())
            // The receipts of the day come beside the periods.
            tryCompare(findChild(page, "receiptMarks"), "isLoading", false, 5000)
            canvas = findChild(page, "canvas")
            view = findChild(page, "timelineView")
            area = findChild(page, "timelineMouseArea")
            verify(canvas.width > 300)
            verify(canvas.height > 100)
            paintedSpy.target = canvas
            messageSpy.clear()
            return page
        }

        function xOfMinute(m) {
            return (m - view.minuteStart) * view.xPerMinute
        }

        // A point inside minute m, clear of the rounding at its edges.
        function xInMinute(m) {
            return xOfMinute(m) + view.xPerMinute / 2
        }

        function midY() {
            return Math.round(canvas.height / 2)
        }

        function rightDrag(fromX, toX) {
            mousePress(area, fromX, midY(), Qt.RightButton)
            mouseMove(area, (fromX + toX) / 2, midY(), 10, Qt.RightButton)
            mouseMove(area, toX, midY(), 10, Qt.RightButton)
            mouseRelease(area, toX, midY(), Qt.RightButton)
        }

        function leftDrag(fromX, toX) {
            mousePress(area, fromX, midY(), Qt.LeftButton)
            for (var i = 1; i <= 6; ++i)
                mouseMove(area, fromX + (toX - fromX) * i / 6, midY(), 10, Qt.LeftButton)
            mouseRelease(area, toX, midY(), Qt.LeftButton)
        }

        // Pans as far as it goes: toward the day's start when `earlier`, else toward its end.
        function panToEnd(earlier) {
            for (var i = 0; i < 12; ++i)
                earlier ? rightDrag(20, canvas.width - 20) : rightDrag(canvas.width - 20, 20)
        }

        // The canvas' own pixels once the repaint that the last action asked for has run. (The
        // window cannot be grabbed under the software renderer the tests use.)
        function pixels() {
            paintedSpy.clear()
            canvas.requestPaint()
            paintedSpy.wait(3000)
            var ctx = canvas.getContext("2d")
            return {
                at: function (x, y) {
                    return ctx.getImageData(Math.round(x), y === undefined ? midY() : y, 1, 1).data
                },
                row: function (y) {
                    return ctx.getImageData(0, y, Math.floor(canvas.width), 1).data
                }
            }
        }

        function isEmpty(px) {
            return px[3] === 0
        }

        function isRecordingShade(px) {
            // rgba(0, 255, 0, 0.1)
            return px[0] < 5 && px[1] > 250 && px[2] < 5 && Math.abs(px[3] - 26) <= 2
        }

        function isSelectionShade(px) {
            // rgba(0, 0, 0, 0.4)
            return px[0] < 5 && px[1] < 5 && px[2] < 5 && Math.abs(px[3] - 102) <= 2
        }

        // Columns among [from, to) where the tick row near the bottom edge is drawn on.
        function drawnColumns(image, from, to) {
            var row = image.row(Math.floor(canvas.height) - 5)
            var n = 0
            for (var x = Math.max(0, Math.floor(from)); x < Math.min(Math.ceil(to), row.length / 4); ++x) {
                if (row[4 * x + 3] > 60)
                    ++n
            }
            return n
        }

        function test_startViewShowsMidday() {
            openTimeline([])
            compare(view.zoomFactor, 12)
            compare(view.xOffset, 0)
            compare(view.fullWidth, 12 * canvas.width)
            compare(view.xBegin, 5.5 * canvas.width)
            verify(view.minuteStart === 659 || view.minuteStart === 660, view.minuteStart)
            verify(view.minuteEnd === 779 || view.minuteEnd === 780, view.minuteEnd)
            fuzzyCompare(view.xPerMinute, canvas.width / view.minuteTotal, 1e-9)
            // The ten-minute ticks are labelled by the clock, unpadded.
            var labels = view.tickLabels()
            var noonLabel = labels.indexOf("12:0")
            verify(noonLabel > 0, labels)
            fuzzyCompare(labels[noonLabel - 1], xOfMinute(720), 1e-9)
            verify(labels.indexOf("11:10") > 0, labels)
            compare(view.selectMinuteStart, -1)
            compare(view.selectMinuteEnd, -1)
            compare(findChild(page, "lblRange").text, "")
            verify(!findChild(page, "btnDownload").enabled)

            // Ticks along the bottom, the hour label at 12:00 among them; nothing above them.
            var image = pixels()
            verify(drawnColumns(image, 0, canvas.width) > 40)
            var noon = xOfMinute(720)
            verify(drawnColumns(image, noon - 1, noon + 2) > 0)
            verify(isEmpty(image.at(Math.round(xInMinute(700)))))
        }

        function test_panningStopsAtTheDaysEnds() {
            openTimeline([])
            rightDrag(400, 300)
            fuzzyCompare(view.xOffset, 100, 1e-9)
            rightDrag(300, 400)
            fuzzyCompare(view.xOffset, 0, 1e-9)

            panToEnd(true)
            compare(view.xOffset, -5.5 * canvas.width)
            compare(view.minuteStart, 0)
            panToEnd(false)
            compare(view.xOffset, 5.5 * canvas.width)
            compare(view.minuteEnd, 1440)
            // The last tick of the day is at 23:59; the right edge is the day's end.
            var image = pixels()
            var last = xOfMinute(1439)
            verify(drawnColumns(image, last - 1, last + 2) > 0)
        }

        function test_wheelZoomStaysWithinLimits() {
            openTimeline([])
            paintedSpy.clear()
            mouseWheel(area, 100, midY(), 0, 120)
            fuzzyCompare(view.zoomFactor, 12.96, 1e-9)
            paintedSpy.wait(3000) // the wheel repaints
            mouseWheel(area, 100, midY(), -120, 0) // a horizontal wheel counts as well
            fuzzyCompare(view.zoomFactor, 12, 1e-9)
            for (var i = 0; i < 40; ++i)
                mouseWheel(area, 100, midY(), 0, 120)
            compare(view.zoomFactor, 40)
            for (i = 0; i < 40; ++i)
                mouseWheel(area, 100, midY(), 0, -120)
            compare(view.zoomFactor, 10)
            compare(view.xOffset, 0)
            // "+" and "-" zoom as a notch of the wheel does, within the same limits.
            area.forceActiveFocus()
            keyClick(Qt.Key_Plus)
            fuzzyCompare(view.zoomFactor, 10.96, 1e-9)
            keyClick(Qt.Key_Minus)
            keyClick(Qt.Key_Minus)
            compare(view.zoomFactor, 10)
        }

        function test_zoomingOutAfterPanningDrawsNoTicksOutsideTheDay() {
            openTimeline([])
            panToEnd(true)
            var before = pixels()
            verify(drawnColumns(before, 0, 2) > 0, "the tick of 0:00 at the left edge")
            mouseWheel(area, 100, midY(), 0, -120)
            fuzzyCompare(view.zoomFactor, 11.04, 1e-9)
            // The offset is kept, so the view now starts before midnight.
            compare(view.xOffset, -5.5 * canvas.width)
            verify(view.minuteStart < 0, view.minuteStart)
            var midnightX = xOfMinute(0)
            verify(midnightX > 100, midnightX)
            var image = pixels()
            compare(drawnColumns(image, 0, midnightX - 2), 0)
            verify(drawnColumns(image, midnightX - 1, midnightX + 2) > 0, "the tick of 0:00")
            var tenPast = xOfMinute(10)
            verify(drawnColumns(image, tenPast - 1, tenPast + 2) > 0, "the tick of 0:10")
            verify(drawnColumns(image, midnightX + 2, canvas.width) > 20)
        }

        function test_dragSelectsMinutes() {
            openTimeline([])
            var button = findChild(page, "btnDownload")
            var from = xInMinute(700)
            var to = xInMinute(712)
            paintedSpy.clear()
            leftDrag(from, to)
            paintedSpy.wait(3000) // the selection repaints
            compare(view.selectMinuteStart, 700)
            compare(view.selectMinuteEnd, 712)
            compare(view.minuteAt(from), 700)
            compare(findChild(page, "lblRange").text, "11:40 - 11:52")
            verify(button.enabled)
            verify(!area.isPressed)

            var span = view.selectionSpan()
            fuzzyCompare(span.from, xOfMinute(700), 1e-9)
            fuzzyCompare(span.to, xOfMinute(712), 1e-9)
            var image = pixels()
            verify(isSelectionShade(image.at(Math.round(xInMinute(706)))))
            verify(isEmpty(image.at(Math.round(xInMinute(715)))))
            verify(isEmpty(image.at(Math.round(xInMinute(697)))))

            // A press alone starts again with a single minute, which cannot be downloaded.
            mouseClick(area, xInMinute(730), midY())
            compare(view.selectMinuteStart, 730)
            compare(view.selectMinuteEnd, 730)
            compare(findChild(page, "lblRange").text, "12:10 - 12:10")
            verify(!button.enabled)
            image = pixels()
            verify(isEmpty(image.at(Math.round(xInMinute(706)))))
        }

        function test_dragLeftKeepsOneMinuteAndStaysOnThePage() {
            openTimeline([])
            var swipe = findChild(page, "stackView")
            compare(swipe.currentIndex, 0)
            mousePress(area, canvas.width - 40, midY(), Qt.LeftButton)
            var start = view.selectMinuteStart
            for (var x = canvas.width - 60; x > 20; x -= 40)
                mouseMove(area, x, midY(), 10, Qt.LeftButton)
            verify(area.isPressed, "the drag stays with the timeline")
            mouseRelease(area, 20, midY(), Qt.LeftButton)
            compare(view.selectMinuteStart, start)
            compare(view.selectMinuteEnd, start)
            verify(!findChild(page, "btnDownload").enabled)
            wait(400)
            compare(swipe.currentIndex, 0)
            compare(findChild(page, "pageIndicator").currentIndex, 0)
            fuzzyCompare(swipe.contentItem.contentX, 0, 1)

            // The same drag beside the timeline slides to the search page (a page along: a longer one may
            // fling past it).
            var label = findChild(page, "lblStreams")
            mousePress(label, label.width - 5, 5, Qt.LeftButton)
            for (var step = 1; step <= 5; ++step)
                mouseMove(label, label.width - 5 - step * 60, 5, 10, Qt.LeftButton)
            mouseRelease(label, label.width - 5 - 5 * 60, 5, Qt.LeftButton)
            tryCompare(swipe, "currentIndex", 1)
            compare(findChild(page, "pageIndicator").currentIndex, 1)
        }

        function test_recordingBeforeMidnightIsShadedFromTheDayStart() {
            var m = midnight() * 1000
            // 23:00 the day before to 01:00, and 12:30 to 15:00.
            openTimeline([[m - 3600000, 7200000], [m + 750 * 60000, 150 * 60000]])
            compare(findChild(page, "recordingsList").count, 2)

            // In the start view the second one reaches past the right edge and is cut there.
            var cut = view.periodSpan(m + 750 * 60000, 150 * 60000)
            fuzzyCompare(cut.from, xOfMinute(750), 1e-6)
            fuzzyCompare(cut.to, canvas.width, 1e-6)
            var image = pixels()
            verify(isRecordingShade(image.at(Math.round(xInMinute(760)))))
            verify(isRecordingShade(image.at(canvas.width - 3)))
            verify(isEmpty(image.at(Math.round(xInMinute(745)))))
            var before = view.periodSpan(m - 3600000, 7200000)
            compare(before.to, before.from) // out of view: nothing to draw

            panToEnd(true)
            var span = view.periodSpan(m - 3600000, 7200000)
            compare(span.from, 0)
            fuzzyCompare(span.to, 3600 * view.xPerSec, 1e-6)
            image = pixels()
            verify(isRecordingShade(image.at(2)))
            verify(isRecordingShade(image.at(Math.round(xInMinute(30)))))
            verify(isEmpty(image.at(Math.round(xInMinute(62)))))

            // Another day's periods replace these ones on the next load.
            var next = Utils.startDayTimestamp(new Date(2026, 11, 8)) * 1000
            testServer.route("/ec2/recordedTimePeriods", 200, periodsBody([[next + 40 * 60000, 10 * 60000]]), 0)
            loadedSpy.clear()
            findChild(page, "datePicker").selectedDate = new Date(2026, 11, 8)
            loadedSpy.wait(5000)
            image = pixels()
            verify(isEmpty(image.at(Math.round(xInMinute(30)))))
            verify(isRecordingShade(image.at(Math.round(xInMinute(45)))))
            verify(isEmpty(image.at(Math.round(xInMinute(52)))))
        }

        function test_selectionStaysInsideTheDay() {
            openTimeline([])
            // Zoomed out after panning to the day's start, the view begins before midnight: a drag from
            // there starts at 00:00, and a selection from 00:00 is shaded like any other.
            panToEnd(true)
            mouseWheel(area, 100, midY(), 0, -120)
            verify(view.minuteStart < -10, view.minuteStart)
            leftDrag(5, xInMinute(5))
            compare(view.selectMinuteStart, 0)
            compare(view.selectMinuteEnd, 5)
            compare(findChild(page, "lblRange").text, "0:0 - 0:5")
            compare(findChild(page, "txtStart").text, "00:00")
            verify(isSelectionShade(pixels().at(Math.round(xInMinute(2)))))
            verify(findChild(page, "btnDownload").enabled)

            // The same past the day's end: the selection stops at 24:00.
            panToEnd(false)
            mouseWheel(area, 100, midY(), 0, -120)
            verify(view.minuteEnd > 1450, view.minuteEnd)
            leftDrag(xInMinute(1430), canvas.width - 5)
            compare(view.selectMinuteStart, 1430)
            compare(view.selectMinuteEnd, 1440)
            compare(findChild(page, "txtEnd").text, "24:00")
            mousePress(area, canvas.width - 5, midY())
            mouseRelease(area, canvas.width - 5, midY())
            compare(view.selectMinuteStart, 1440)

            // The keys stop at the day's ends too.
            area.forceActiveFocus()
            keyClick(Qt.Key_Right)
            compare(view.selectMinuteEnd, 1440)
            panToEnd(true)
            leftDrag(xInMinute(1), xInMinute(2))
            area.forceActiveFocus()
            keyClick(Qt.Key_Left, Qt.ShiftModifier)
            keyClick(Qt.Key_Left, Qt.ShiftModifier)
            compare(view.selectMinuteStart, 0)
            compare(view.selectMinuteEnd, 2)

            // A typed time the day does not have is shown in red and not taken.
            var start = findChild(page, "txtStart")
            start.forceActiveFocus()
            start.text = "25:00"
            verify(!start.valid)
            keyClick(Qt.Key_Tab)
            compare(start.text, "00:00")
            compare(view.selectMinuteStart, 0)
        }

        function test_downloadAsksForTheSelectedMinutes() {
            openTimeline([])
            // One and a half MiB, sent after a pause so that the box is seen waiting.
            var body = new Array(1572864 + 1).join("x")
            testServer.route("/hls/cam-1.mkv", 200, body, 600)
            leftDrag(xInMinute(720), xInMinute(725))
            compare(findChild(page, "lblRange").text, "12:0 - 12:5")
            var box = findChild(page, "popDownload")
            var field = findChild(page, "txtDownload")
            mouseClick(findChild(page, "btnDownload"))
            standIn.acceptSave() // the file offered: "download.mkv" here
            tryCompare(box, "visible", true)
            compare(field.text, "Waiting ...")
            verify(field.readOnly)
            var pos = (midnight() + 720 * 60) * 1000
            tryCompare(box, "visible", false, 10000)
            compare(testServer.lastTarget(), "/hls/cam-1.mkv?pos=" + pos + "&duration=300&hi=1")
            compare(field.text, "1.50MB/1.50MB")
            compare(messageSpy.count, 0)
        }

        function test_formatSize_data() {
            return [
                { tag: "unknown", value: -1, expected: "N/A" },
                { tag: "nothing", value: 0, expected: "0.00MB" },
                { tag: "one byte", value: 1, expected: "0.00MB" },
                { tag: "just under a MiB", value: 1048575, expected: "1.00MB" },
                { tag: "a MiB and a half", value: 1572864, expected: "1.50MB" },
                { tag: "a GiB", value: 1073741824, expected: "1024.00MB" },
            ]
        }

        function test_formatSize(data) {
            serve([])
            var direction = createTemporaryObject(directionComponent, root)
            compare(findChild(direction, "apiCall").formatSize(data.value), data.expected)
        }

        function test_errorsGoToTheMessageBox() {
            openTimeline([])
            leftDrag(xInMinute(700), xInMinute(705))
            testServer.route("/ec2/recordedTimePeriods", 500, "broken", 0)
            findChild(page, "datePicker").selectedDate = new Date(2026, 11, 6)
            messageSpy.wait(5000)
            verify(Notifier.message.length > 0)
            Notifier.dismiss()
            // The page keeps what it had.
            compare(view.selectMinuteStart, 700)
            compare(view.selectMinuteEnd, 705)

            messageSpy.clear()
            testServer.route("/ec2/recordedTimePeriods", 200, '{"error":"2","errorString":"No such camera"}', 0)
            findChild(page, "datePicker").selectedDate = new Date(2026, 11, 5)
            messageSpy.wait(5000)
            compare(Notifier.message, "No such camera")
            Notifier.dismiss()
        }

        function test_retryAfterFailedStartup_data() {
            return [
                { tag: "server time", path: "/api/getTime" },
                { tag: "camera list", path: "/ec2/getCamerasEx" },
            ]
        }

        // The failure shows beside "Retry", which asks again: the cameras come without a restart.
        function test_retryAfterFailedStartup(data) {
            StreamsList.clear()
            serve([])
            testServer.route(data.path, 500, "broken", 0)
            page = createTemporaryObject(directionComponent, root)
            var error = findChild(page, "lblLoadError")
            tryVerify(function () { return error.text !== "" }, 5000)
            verify(findChild(page, "loadErrorRow").visible)
            compare(findChild(page, "lstStreams").count, 0)
            compare(messageSpy.count, 0)

            serve([])
            mouseClick(findChild(page, "btnRetry"))
            tryCompare(findChild(page, "lstStreams"), "count", 2, 5000)
            verify(!findChild(page, "loadErrorRow").visible)
            compare(testServer.lastTarget(), "/ec2/getCamerasEx")
            compare(testServer.requestCount(), data.path === "/api/getTime" ? 2 : 1)
        }

        function test_cameraLoadingBoxFollowsTheList() {
            serve([])
            testServer.route("/ec2/getCamerasEx", 200, '[{"id":"cam-1","name":"Entrance"}]', 800)
            page = createTemporaryObject(directionComponent, root)
            var box = findChild(page, "popStreamsLoading")
            tryCompare(box, "visible", true, 5000)
            verify(StreamsList.isLoading)
            tryCompare(box, "visible", false, 5000)
            compare(findChild(page, "lstStreams").count, 1)
            // The page asked for the server time first and for the cameras after it.
            compare(testServer.lastTarget(), "/ec2/getCamerasEx")
        }

        function receipt(text, at, cameras) {
            return { text: text, received_at: at.toISOString(),
                     device: { streams: cameras.map(function (id) { return { nx_id: id, name: id } }) } }
        }

        function markGroups() {
            pixels() // the groups are those of the last repaint
            return view.markGroups.map(function (g) { return { x: Math.round(g.x), count: g.count } })
        }

        // The camera's receipts of the day as marks where they happened; those too close to tell apart
        // at this zoom as one mark with their count, which zooming in separates; another camera's not at all.
        function test_receiptMarksWhereTheReceiptsAre() {
            var receipts = [receipt("A", new Date(2026, 11, 7, 12, 0, 0), ["cam-1"]),
                            receipt("B", new Date(2026, 11, 7, 12, 0, 20), ["cam-2", "cam-1"]),
                            receipt("C", new Date(2026, 11, 7, 12, 10, 0), ["cam-2"]),
                            receipt("D", new Date(2026, 11, 7, 12, 30, 0), ["cam-1"])]
            openTimeline([], JSON.stringify(receipts))
            var marks = findChild(page, "receiptMarks")
            compare(marks.count, 3)
            compare(markGroups(), [{ x: Math.round(xOfMinute(720)), count: 2 },
                                   { x: Math.round(xOfMinute(750)), count: 1 }])
            compare(findChild(page, "lblMarksStatus").text, "3 receipts of this camera on this day")
            // Clicked, a mark that stands for two lists them, and the one picked opens.
            mouseClick(area, markGroups()[0].x, 4)
            var picker = findChild(page, "popMarks")
            tryCompare(picker, "opened", true)
            var listed = findChild(page, "lstMarks")
            compare(listed.count, 2)
            tryVerify(function () { return listed.itemAtIndex(1) !== null })
            verify(listed.itemAtIndex(1).text.indexOf("B") > 0, listed.itemAtIndex(1).text)
            mouseClick(listed.itemAtIndex(1))
            tryCompare(picker, "visible", false)
            var opened = findChild(page, "popDetail")
            tryCompare(opened, "opened", true)
            compare(findChild(page, "txtContent").text, "B")
            opened.close()
            tryCompare(opened, "visible", false)
            for (var i = 0; i < 30; ++i)
                mouseWheel(area, 100, midY(), 0, 120)
            compare(view.zoomFactor, 40)
            view.centreOn(720)
            var apart = markGroups()
            compare(apart.length, 2, JSON.stringify(apart)) // the third is now out of view
            compare(apart[0].count, 1)
            fuzzyCompare(apart[1].x - apart[0].x, 20 * view.xPerSec, 1)

            // Hovering a mark shows its time and first lines; clicking it opens the receipt with the
            // timeline's camera chosen.
            var tip = findChild(page, "markTip")
            mouseMove(area, apart[0].x + 1, 4) // the first move only enters the area
            mouseMove(area, apart[0].x, 4)
            tryCompare(tip, "visible", true)
            verify(tip.text.indexOf(Utils.formatDateTime(new Date(2026, 11, 7, 12, 0, 0))) === 0, tip.text)
            mouseClick(area, apart[1].x, 4)
            var detail = findChild(page, "popDetail")
            tryCompare(detail, "opened", true)
            compare(findChild(page, "txtContent").text, "B")
            compare(findChild(page, "cbStream").currentValue, "cam-1")
            detail.close()
            // Marks take no part in the selection.
            compare(view.selectMinuteStart, -1)
        }

        // A POS server that fails leaves the timeline working and says so in one line, not in a box.
        function test_posServerDownSaysSoInTheStatusLine() {
            openTimeline([])
            testServer.route("/poses/", 503, "down", 0)
            findChild(page, "datePicker").selectedDate = new Date(2026, 11, 6)
            var status = findChild(page, "lblMarksStatus")
            tryVerify(function () { return status.text.indexOf("Receipts could not be loaded") === 0 }, 5000)
            compare(findChild(page, "receiptMarks").count, 0)
            leftDrag(xInMinute(700), xInMinute(705))
            compare(view.selectMinuteEnd, 705)
            compare(messageSpy.count, 0)
        }

        // "Show on timeline": the receipt's camera and day, and the whole minutes that cover the three
        // minutes around it, which "Download" then fetches.
        function test_showOnTimelineSelectsTheWindow_data() {
            return [
                { tag: "on a minute", at: new Date(2026, 11, 5, 10, 30, 0), from: "10:28", to: "10:32",
                  first: new Date(2026, 11, 5, 10, 28, 0), duration: 240 },
                { tag: "within a minute", at: new Date(2026, 11, 5, 10, 30, 45), from: "10:29", to: "10:33",
                  first: new Date(2026, 11, 5, 10, 29, 0), duration: 240 },
                // The window begins the day before: the selection stays in the receipt's day.
                { tag: "just after midnight", at: new Date(2026, 11, 5, 0, 0, 30), from: "00:00", to: "00:02",
                  first: new Date(2026, 11, 5, 0, 0, 0), duration: 120 },
            ]
        }

        function test_showOnTimelineSelectsTheWindow(data) {
            openTimeline([])
            var pages = findChild(page, "stackView")
            pages.setCurrentIndex(1)
            var detail = findChild(page, "popDetail")
            var searchPage = pages.itemAt(1)
            searchPage.openReceipt(data.at, "TOTAL 1.00", [{ strmId: "cam-1", strmName: "Entrance" },
                                                          { strmId: "cam-2", strmName: "Car Park" }], "cam-2")
            tryCompare(detail, "opened", true)
            mouseClick(findChild(page, "btnShowOnTimeline"))
            tryCompare(detail, "visible", false)
            compare(pages.currentIndex, 0)
            compare(findChild(page, "lstStreams").currentIndex, 1)
            var picked = findChild(page, "datePicker").selectedDate
            compare(picked.toDateString(), data.at.toDateString())
            compare(findChild(page, "txtStart").text, data.from)
            compare(findChild(page, "txtEnd").text, data.to)
            // The receipt in the middle of the view, or as near it as the day's start lets the view go.
            var at = (data.at.getTime() / 1000 - findChild(page, "dayClock").startSecs) / 60
            var x = xOfMinute(at)
            verify(x >= 0 && x < canvas.width, x)
            verify(view.minuteStart === 0 || Math.abs(x - canvas.width / 2) < view.xPerMinute, x)

            testServer.route("/hls/cam-2.mkv", 200, "clip", 0)
            mouseClick(findChild(page, "btnDownload"))
            standIn.acceptSave()
            tryVerify(function () { return testServer.lastTarget().indexOf("/hls/") === 0 }, 5000)
            compare(testServer.lastTarget(),
                    "/hls/cam-2.mkv?pos=" + data.first.getTime() + "&duration=" + data.duration + "&hi=1")
            tryCompare(findChild(page, "popDownloaded"), "opened", true, 5000)
            findChild(page, "popDownloaded").close()
        }

        function test_changingCameraKeepsTheView() {
            openTimeline([])
            rightDrag(400, 300)
            mouseWheel(area, 100, midY(), 0, 120)
            leftDrag(xInMinute(740), xInMinute(744))
            var list = findChild(page, "lstStreams")
            loadedSpy.clear()
            mouseClick(list.itemAtIndex(1))
            loadedSpy.wait(5000)
            verify(testServer.targets().some(function (target) { return target.indexOf("cameraId=cam-2&") > 0 }))
            fuzzyCompare(view.zoomFactor, 12.96, 1e-9)
            fuzzyCompare(view.xOffset, 100, 1e-9)
            compare(view.selectMinuteStart, 740)
            compare(view.selectMinuteEnd, 744)
        }
    }

    Component {
        id: signalSpyComponent
        SignalSpy { }
    }

    TestCase {
        name: "DatePicker"
        when: windowShown

        Component {
            id: pickerComponent
            DatePicker { }
        }

        function test_startsOnToday() {
            var picker = createTemporaryObject(pickerComponent, root)
            var today = new Date()
            compare(picker.selectedDate.getFullYear(), today.getFullYear())
            compare(picker.selectedDate.getMonth(), today.getMonth())
            compare(picker.selectedDate.getDate(), today.getDate())
            compare(picker.displayText, today.toLocaleDateString(Qt.locale(), Locale.ShortFormat))
        }

        function test_okTakesTheCalendarsDay() {
            var picker = createTemporaryObject(pickerComponent, root)
            var spy = createTemporaryObject(signalSpyComponent, root, { target: picker, signalName: "selectedDateChanged" })
            mouseClick(picker)
            tryCompare(picker.popup, "opened", true)
            var calendar = findChild(picker.popup.contentItem, "calendar")
            verify(calendar)
            var day = new Date(2026, 11, 7)
            calendar.selectedDate = day
            // The box shows the calendar's day before "Ok" takes it over.
            compare(picker.displayText, day.toLocaleDateString(Qt.locale(), Locale.ShortFormat))
            compare(spy.count, 0)
            mouseClick(findChild(picker.popup.contentItem, "btnDateOk"))
            tryCompare(picker.popup, "visible", false)
            compare(spy.count, 1)
            compare(picker.selectedDate.getFullYear(), 2026)
            compare(picker.selectedDate.getMonth(), 11)
            compare(picker.selectedDate.getDate(), 7)
            compare(Utils.startDayTimestamp(picker.selectedDate), Utils.startDayTimestamp(day))
        }

        function test_closingWithoutOkKeepsTheDayInUse() {
            var picker = createTemporaryObject(pickerComponent, root)
            var inUse = new Date(2026, 11, 7)
            picker.selectedDate = inUse
            var shown = inUse.toLocaleDateString(Qt.locale(), Locale.ShortFormat)
            var spy = createTemporaryObject(signalSpyComponent, root, { target: picker, signalName: "selectedDateChanged" })
            mouseClick(picker)
            tryCompare(picker.popup, "opened", true)
            var calendar = findChild(picker.popup.contentItem, "calendar")
            keyClick(Qt.Key_Left)
            compare(calendar.selectedDate.getDate(), 6)
            verify(picker.displayText !== shown)
            keyClick(Qt.Key_Escape)
            tryCompare(picker.popup, "visible", false)
            compare(picker.displayText, shown)
            compare(calendar.selectedDate.getDate(), 7)
            compare(spy.count, 0)

            // Return takes the day, as "Ok" does.
            mouseClick(picker)
            tryCompare(picker.popup, "opened", true)
            keyClick(Qt.Key_Right)
            keyClick(Qt.Key_Return)
            tryCompare(picker.popup, "visible", false)
            compare(spy.count, 1)
            compare(picker.selectedDate.getDate(), 8)
        }
    }
}
