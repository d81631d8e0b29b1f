import QtQuick 2.15
import QtQuick.Controls 2.15
import Tillmark 1.0

// One day of a camera on a zoomable timeline: its recorded periods shaded, the minutes selected, and the
// receipts it saw as marks along the top. The mouse selects (left button), pans (right button) and zooms
// (wheel); the keys do the same and go from receipt to receipt. Where everything lies is worked out by a
// TimelineView; this draws it and hands it the mouse and the keys.
Rectangle {
    id: timeline

    property DayClock day: null
    property RecordingsList recordings: null
    property ReceiptMarks marks: null
    readonly property TimelineView view: timelineView

    /// A receipt mark was chosen: its row of marks.
    signal markChosen(int row)
    /// W on a receipt mark: its window in the review player.
    signal markWatchRequested(int row)

    /// Gives the timeline the keys.
    function takeFocus() {
        mouseArea.forceActiveFocus()
    }

    // The receipt's time and first lines, as the mark's tooltip and the screen reader give them; first the
    // exception rules that flag it.
    function markText(row) {
        var mark = marks.get(row)
        var lines = String(mark.markPreview).split("\n").map(function (line) { return line.replace(/\s+$/, "") })
        var text = "%1\n%2".arg(Utils.formatDateTime(mark.markCreatedAt)).arg(lines.join("\n"))
        if (mark.markFlags && mark.markFlags.length > 0)
            text = qsTr("Flagged: %1").arg(mark.markFlags.join(", ")) + I18n.localeNotify + "\n" + text
        return text
    }

    border.width: mouseArea.activeFocus ? 2 : 1
    border.color: mouseArea.activeFocus ? palette.highlight : "grey"

    TimelineView {
        id: timelineView
        objectName: "timelineView"
        day: timeline.day
        recordings: timeline.recordings
        marks: timeline.marks
        width: canvas.width
    }

    Connections {
        target: timelineView
        function onViewChanged() {
            canvas.requestPaint()
        }
        function onSelectionChanged() {
            canvas.requestPaint()
        }
        function onFocusedMarkChanged() {
            canvas.requestPaint()
        }
        function onContentChanged() {
            canvas.requestPaint()
        }
    }

    Canvas {
        id: canvas
        objectName: "canvas"
        anchors.fill: parent
        anchors.margins: 2

        function paintTicks(ctx) {
            ctx.strokeStyle = "rgb(90, 90, 90)"
            ctx.lineWidth = 1
            var ticks = timelineView.ticks()
            // One path for all ticks: a stroke per tick costs more than the rest of the repaint.
            ctx.beginPath()
            for (var i = 0; i < ticks.length; i += 2) {
                ctx.moveTo(ticks[i], height)
                ctx.lineTo(ticks[i], height - ticks[i + 1])
            }
            ctx.stroke()
            var labels = timelineView.tickLabels()
            for (i = 0; i < labels.length; i += 2)
                ctx.fillText(labels[i + 1], labels[i], height - 45)
        }

        function paintRecordings(ctx) {
            ctx.fillStyle = "rgba(0, 255, 0, 0.1)"
            var spans = timelineView.periodSpans()
            for (var i = 0; i < spans.length; i += 2)
                ctx.fillRect(spans[i], 0, spans[i + 1] - spans[i], height)
        }

        function paintSelection(ctx) {
            ctx.fillStyle = "rgba(0, 0, 0, 0.4)"
            var span = timelineView.selectionSpan()
            if (span)
                ctx.fillRect(span.from, 0, span.to - span.from, height)
        }

        // Each receipt as a mark at the top, over the recordings; marks a few pixels apart are one mark
        // with their count.
        function paintMarks(ctx) {
            var groups = timeline.marks && timeline.marks.count > 0
                    ? timeline.marks.clusters(timelineView.viewStartMs, timelineView.msPerPixel, width, 6) : []
            timelineView.markGroups = groups
            var band = timelineView.markBand
            // Rectangles on whole pixels: an antialiased path of a few hundred marks costs more than the
            // rest of the repaint. A mark with a receipt that an exception rule flags takes the second colour.
            var i
            for (var flagged = 0; flagged < 2; ++flagged) {
                ctx.fillStyle = flagged ? "rgb(200, 0, 90)" : "rgb(230, 120, 0)"
                for (i = 0; i < groups.length; ++i) {
                    if ((groups[i].flagged > 0) !== (flagged === 1))
                        continue
                    var x = Math.round(groups[i].x)
                    ctx.fillRect(x - 3, 0, 7, 5)
                    ctx.fillRect(x - 1, 0, 3, band)
                }
            }
            ctx.fillStyle = "rgb(0, 0, 0)"
            ctx.textAlign = "left"
            // A count only where it has room before the next mark: packed marks would smear their
            // numbers into each other, and every text costs more than the marks.
            for (i = 0; i < groups.length; ++i) {
                var room = (i + 1 < groups.length ? groups[i + 1].x : width) - groups[i].x
                var label = String(groups[i].count)
                if (groups[i].count > 1 && room >= 8 + 7 * label.length)
                    ctx.fillText(label, groups[i].x + 5, band - 2)
            }
            if (timelineView.focusedMark >= 0) {
                var at = timelineView.xOfTime(timeline.marks.get(timelineView.focusedMark).markTimeMS)
                ctx.strokeStyle = "rgb(0, 90, 200)"
                ctx.lineWidth = 2
                ctx.strokeRect(at - 6, 1, 12, band)
            }
        }

        onPaint: {
            var ctx = getContext("2d")
            ctx.clearRect(0, 0, width, height)
            ctx.fillStyle = "rgb(0, 0, 0)"
            ctx.textAlign = "center"
            ctx.font = "11px sans-serif"
            paintTicks(ctx)
            paintRecordings(ctx)
            paintSelection(ctx)
            paintMarks(ctx)
        }

        onHeightChanged: requestPaint()
    }

    Label {
        id: lblRange
        objectName: "lblRange"
        anchors.top: parent.top
        anchors.right: parent.right
        anchors.margins: 5
        // Below the band of receipt marks.
        anchors.topMargin: timelineView.markBand + 6
        text: timelineView.rangeText
    }

    MouseArea {
        id: mouseArea
        objectName: "timelineMouseArea"
        anchors.fill: canvas
        acceptedButtons: Qt.AllButtons
        // The page sits in a swipe view, which would otherwise take over a sideways drag and slide to
        // the next page in the middle of a selection.
        preventStealing: true
        activeFocusOnTab: true

        Accessible.role: Accessible.Chart
        Accessible.name: (timelineView.focusedMark >= 0
                          ? qsTr("Receipt %1").arg(timeline.markText(timelineView.focusedMark))
                          : timelineView.selectMinuteStart < 0
                            ? qsTr("Timeline, nothing selected")
                            : qsTr("Timeline, selected %1 to %2")
                              .arg(timeline.day.timeText(timelineView.selectMinuteStart))
                              .arg(timeline.day.timeText(timelineView.selectMinuteEnd)))
                         + I18n.localeNotify
        Accessible.description: qsTr("Arrow keys move the end of the selection, Shift and arrow keys its start; plus and minus zoom; Page Down and Page Up go from receipt to receipt, Return opens it, W watches it") + I18n.localeNotify
        hoverEnabled: true

        property bool isPressed: false
        property real lastX: 0
        // The mark group a press landed on: the press opens it and selects nothing.
        property var pressedGroup: null

        function showMarkTip(group) {
            if (!group) {
                markTip.hide()
                return
            }
            markTip.x = Math.min(group.x, canvas.width - markTip.width)
            markTip.text = timeline.markText(group.row)
                    + (group.count > 2 ? "\n" + qsTr("and %1 more receipts").arg(group.count - 1)
                       : group.count > 1 ? "\n" + qsTr("and 1 more receipt") : "")
                    + (group.count > 1 && group.flagged > 0 ? "\n" + qsTr("%1 of them flagged").arg(group.flagged) : "")
            markTip.show(markTip.text)
        }

        function openGroup(group) {
            if (group.count === 1) {
                timeline.markChosen(group.row)
                return
            }
            var rows = []
            for (var i = 0; i < group.count; ++i)
                rows.push(group.row + i)
            popMarks.rows = rows
            popMarks.open()
        }

        // The keyboard to the next (step 1) or previous (-1) receipt mark, with its tooltip.
        function stepMark(step) {
            var row = timelineView.stepMark(step)
            if (row >= 0)
                showMarkTip({ x: timelineView.xOfTime(timeline.marks.get(row).markTimeMS), row: row, count: 1 })
        }

        onPressed: {
            forceActiveFocus()
            pressedGroup = mouse.button === Qt.LeftButton ? timelineView.markGroupAt(mouse.x, mouse.y) : null
            if (pressedGroup)
                return
            isPressed = true
            lastX = mouse.x
            timelineView.selectAt(mouse.x)
        }

        onPositionChanged: {
            if (!pressed) {
                showMarkTip(timelineView.markGroupAt(mouse.x, mouse.y))
                return
            }
            if (pressedGroup)
                return
            if (mouse.buttons & Qt.RightButton) {
                timelineView.panBy(mouse.x - lastX)
                lastX = mouse.x
                return
            }
            timelineView.extendTo(mouse.x)
        }

        onReleased: {
            isPressed = false
            var group = pressedGroup
            pressedGroup = null
            var under = timelineView.markGroupAt(mouse.x, mouse.y)
            if (group && under && under.row === group.row) {
                markTip.hide()
                openGroup(group)
            }
        }

        onExited: if (timelineView.focusedMark < 0) markTip.hide()

        onWheel: timelineView.zoomByWheel(wheel.angleDelta.x, wheel.angleDelta.y)

        onActiveFocusChanged: {
            if (!activeFocus) {
                timelineView.focusedMark = -1
                markTip.hide()
            }
        }

        // Arrows move the end by a minute (ten with Ctrl), Shift+arrows the start; "+" and "-" zoom;
        // Page Down and Page Up go from receipt to receipt, Return opens it, W watches it, Escape leaves it.
        Keys.onPressed: {
            if (event.key === Qt.Key_PageDown || event.key === Qt.Key_PageUp) {
                stepMark(event.key === Qt.Key_PageDown ? 1 : -1)
            } else if ((event.key === Qt.Key_Return || event.key === Qt.Key_Enter) && timelineView.focusedMark >= 0) {
                markTip.hide()
                timeline.markChosen(timelineView.focusedMark)
            } else if (event.key === Qt.Key_W && event.modifiers === Qt.NoModifier && timelineView.focusedMark >= 0) {
                markTip.hide()
                timeline.markWatchRequested(timelineView.focusedMark)
            } else if (event.key === Qt.Key_Escape && timelineView.focusedMark >= 0) {
                timelineView.focusedMark = -1
                markTip.hide()
            } else if (event.key === Qt.Key_Plus || event.key === Qt.Key_Equal || event.key === Qt.Key_Minus) {
                timelineView.zoomByKey(event.key !== Qt.Key_Minus)
            } else if (event.key === Qt.Key_Left || event.key === Qt.Key_Right) {
                timelineView.stepSelection((event.key === Qt.Key_Left ? -1 : 1)
                                           * (event.modifiers & Qt.ControlModifier ? 10 : 1),
                                           (event.modifiers & Qt.ShiftModifier) !== 0)
            } else {
                return
            }
            event.accepted = true
        }
    }

    ToolTip {
        id: markTip
        objectName: "markTip"
        parent: canvas
        y: timelineView.markBand + 4
        delay: 0
        // Receipts line their columns up in a fixed-width font, and keep their lines.
        contentItem: Label {
            text: markTip.text
            font.family: "monospace"
        }
    }

    // The receipts of a mark that stands for several: one of them is picked.
    Popup {
        id: popMarks
        objectName: "popMarks"
        property var rows: []
        // Over the window, which the timeline is only a part of; the overlay is there once the timeline is.
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: parent ? Math.min(parent.width * 0.8, 520) : 520
        height: Math.min(parent ? parent.height * 0.7 : 400, lstMarks.contentHeight + topPadding + bottomPadding)
        modal: true
        dim: true
        focus: true
        onOpened: lstMarks.forceActiveFocus()

        ListView {
            id: lstMarks
            objectName: "lstMarks"
            anchors.fill: parent
            clip: true
            model: popMarks.rows
            keyNavigationEnabled: true
            Accessible.role: Accessible.List
            Accessible.name: qsTr("Receipts at this mark") + I18n.localeNotify
            Keys.onReturnPressed: choose(currentIndex)
            Keys.onEnterPressed: choose(currentIndex)

            function choose(index) {
                var row = popMarks.rows[index]
                popMarks.close()
                timeline.markChosen(row)
            }

            delegate: ItemDelegate {
                width: ListView.view.width
                highlighted: ListView.isCurrentItem
                focusPolicy: Qt.NoFocus
                text: timeline.markText(modelData).replace(/\n/g, " · ")
                Accessible.name: text
                onClicked: lstMarks.choose(index)
            }
        }
    }
}
