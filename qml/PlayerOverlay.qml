import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// The review player over the window, one for all that open it: a receipt's "Watch", the timeline's
// "Play" and a receipt mark's W, a finished export's "Play". Opening it again replaces what it showed.
// Escape closes it, and the keys go back to where they were.
Popup {
    id: overlay
    objectName: "playerOverlay"

    /// The window's save dialog, for stills and exports.
    property AppDialogs dialogs: null

    /// "Export this" on a receipt watched: the receipt's own export, asked for as from the receipt.
    signal exportReceiptRequested(var createdAt, string cameraId, string cameraName, string content,
                                  bool highQuality, real tillClockOffsetMs)

    /// tillClockOffsetMs: how far the receipt's till was taken to be off; createdAt is on the video's clock.
    function watchReceipt(createdAt, content, cameraId, cameraName, highQuality, tillClockOffsetMs) {
        show()
        session.watchReceipt(createdAt, content, cameraId, cameraName, highQuality === true, tillClockOffsetMs || 0)
    }
    function playWindow(cameraId, cameraName, from, to) {
        show()
        session.playWindow(cameraId, cameraName, from, to)
    }
    function playExport(path) {
        show()
        session.playExport(path)
    }
    function show() {
        lblStill.text = ""
        open()
        pane.forceActiveFocus()
    }

    function saveStill(withReceipts, receipt) {
        dialogs.saveFile(session.suggestedStillFile(), "png", function (path) {
            pane.video.saveStill(path, withReceipts, receipt)
        })
    }
    function exportThis() {
        if (session.source === ReviewSession.Receipt) {
            var receipt = session.watchedReceipt()
            exportReceiptRequested(receipt.createdAt, receipt.cameraId, receipt.cameraName, receipt.content,
                                   receipt.highQuality, receipt.tillClockOffsetMs)
        } else if (session.source === ReviewSession.Selection) {
            dialogs.saveFile(session.suggestedExportFile(), "mp4", function (path) {
                // Followed in its progress box when it runs at once; otherwise the queue shows where it waits.
                var followed = Exports.job
                if (session.exportWindow(path) && Exports.job === followed)
                    Exports.showQueue()
            })
        }
    }

    parent: Overlay.overlay
    x: Math.round(parent.width * 0.02)
    y: Math.round(parent.height * 0.02)
    width: Math.round(parent.width * 0.96)
    height: Math.round(parent.height * 0.96)
    modal: true
    dim: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    onOpened: pane.forceActiveFocus()
    // However it closes, the transfers stop and the decoder goes.
    onClosed: session.close()

    ReviewSession {
        id: session
        objectName: "reviewSession"
        player: pane.video
        receipts: pane.receipts
        exports: Exports
    }

    Connections {
        target: pane.video
        function onStillSaved(pngPath, error) {
            if (error !== "")
                Notifier.show(error)
            else
                lblStill.text = qsTr("Still saved: %1").arg(pngPath) + I18n.localeNotify
        }
    }

    ColumnLayout {
        anchors.fill: parent

        RowLayout {
            Layout.fillWidth: true
            Label {
                objectName: "lblPlayerTitle"
                font.bold: true
                text: session.title
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
            Label {
                objectName: "lblPlayerReceipts"
                Layout.fillWidth: true
                elide: Text.ElideRight
                color: pane.receipts.errorText !== "" ? "firebrick" : palette.mid
                text: pane.receipts.errorText !== "" ? pane.receipts.errorText
                      : pane.receipts.isLoading ? qsTr("Fetching the receipts …") + I18n.localeNotify : ""
                Accessible.role: Accessible.AlertMessage
                Accessible.name: text
            }
            Label {
                id: lblStill
                objectName: "lblStillSaved"
                elide: Text.ElideMiddle
                Layout.maximumWidth: overlay.width / 2
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
        }

        ReviewPlayer {
            id: pane
            Layout.fillWidth: true
            Layout.fillHeight: true
            startNote: session.startNote
            windowSeconds: session.windowSeconds > 0 ? session.windowSeconds : 180
            receiptsSwitchable: session.drawsReceipts
            canExport: session.drawsReceipts
            onSaveStillRequested: overlay.saveStill(withReceipts, receipt)
            onExportRequested: overlay.exportThis()
            onCloseRequested: overlay.close()
        }
    }
}
