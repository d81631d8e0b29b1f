import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// The pages after login, side by side: recordings first, then the POS search, then the exceptions.
Page {
    id: direction
    title: qsTr("Tillmark") + I18n.localeNotify

    /// The window's save and folder dialogs, for the pages.
    property AppDialogs dialogs: null

    signal loggedOut()

    // setCurrentIndex() keeps the bindings that tie the tab bar and the pages together. The keys go
    // to the page shown, where they were last (the search field on a fresh search page).
    function showPage(index) {
        stackView.setCurrentIndex(index)
        stackView.currentItem.forceActiveFocus()
    }

    Shortcut {
        sequence: "Ctrl+1"
        onActivated: direction.showPage(0)
    }
    Shortcut {
        sequence: "Ctrl+2"
        onActivated: direction.showPage(1)
    }
    Shortcut {
        sequence: "Ctrl+3"
        onActivated: direction.showPage(2)
    }
    // The exports, from either page.
    Shortcut {
        sequence: "Ctrl+J"
        onActivated: Exports.showQueue()
    }
    Shortcut {
        sequences: [StandardKey.NextChild]
        onActivated: direction.showPage((stackView.currentIndex + 1) % stackView.count)
    }
    Shortcut {
        sequences: [StandardKey.PreviousChild]
        onActivated: direction.showPage((stackView.currentIndex + stackView.count - 1) % stackView.count)
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        // First in the layout, so that Tab reaches it first, as it is seen first.
        RowLayout {
            Layout.fillWidth: true
            spacing: 0

            TabBar {
                id: tabBar
                objectName: "tabBar"
                Layout.fillWidth: true
                currentIndex: stackView.currentIndex

                PageTab {
                    objectName: "tabRecordings"
                    text: qsTr("Recordings") + I18n.localeNotify
                }
                PageTab {
                    objectName: "tabReceipts"
                    text: qsTr("Receipts") + I18n.localeNotify
                }
                PageTab {
                    objectName: "tabExceptions"
                    text: qsTr("Exceptions") + I18n.localeNotify
                }
            }
            // The queue of exports, from either page.
            Button {
                objectName: "btnQueue"
                flat: true
                readonly property int pending: Exports.queue.pendingCount
                text: (pending > 0 ? qsTr("Exports (%1)").arg(pending) : qsTr("Exports")) + I18n.localeNotify
                Accessible.name: qsTr("Exports: %1 waiting or running").arg(pending) + I18n.localeNotify
                Accessible.description: qsTr("The queue of exports (Ctrl+J)") + I18n.localeNotify
                onClicked: Exports.showQueue()
            }
            Button {
                objectName: "btnLogOut"
                flat: true
                text: qsTr("Log out") + I18n.localeNotify
                onClicked: direction.loggedOut()
            }
        }

        SwipeView {
            id: stackView
            objectName: "stackView"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            currentIndex: tabBar.currentIndex
            // Tab goes to the controls on the page, not to the view that holds it.
            activeFocusOnTab: false
            focus: true

            // Only the page in view takes part in Tab and the screen reader's focus; both are live
            // while a swipe shows them side by side.
            PageMain {
                id: pageMain
                enabled: SwipeView.isCurrentItem || stackView.contentItem.moving
                dialogs: direction.dialogs
                // A receipt mark opens the same detail box as a found receipt, on the mark's camera.
                onReceiptChosen: pageSearch.openReceipt(receipt.markCreatedAt, receipt.markContent,
                                                        receipt.markStreams, streamId, receipt.markTillClockOffsetMs)
                onWatchRequested: player.watchReceipt(receipt.markCreatedAt, receipt.markContent, streamId,
                                                      streamName, false, receipt.markTillClockOffsetMs)
                onPlayRequested: player.playWindow(streamId, streamName, from, to)
            }
            PageSearch {
                id: pageSearch
                enabled: SwipeView.isCurrentItem || stackView.contentItem.moving
                dialogs: direction.dialogs
                onShowOnTimelineRequested: {
                    direction.showPage(0)
                    pageMain.showReceipt(streamId, createdAt)
                }
                onWatchRequested: player.watchReceipt(createdAt, content, streamId, streamName, highQuality,
                                                      tillClockOffsetMs)
            }
            PageExceptions {
                objectName: "pageExceptions"
                enabled: SwipeView.isCurrentItem || stackView.contentItem.moving
                dialogs: direction.dialogs
                // The flagged receipts open in the receipts' own box and export the receipts' way.
                onReceiptChosen: pageSearch.openReceipt(createdAt, content, streams, streamId, tillClockOffsetMs)
                onExportRequested: pageSearch.exportAround(createdAt, streamId, streamName, content, false,
                                                           tillClockOffsetMs)
                onShowOnTimelineRequested: {
                    direction.showPage(0)
                    pageMain.showReceipt(streamId, createdAt)
                }
                onWatchRequested: player.watchReceipt(createdAt, content, streamId, streamName, false,
                                                      tillClockOffsetMs)
            }
        }

        PageIndicator {
            objectName: "pageIndicator"
            Layout.alignment: Qt.AlignHCenter
            interactive: true
            count: stackView.count
            currentIndex: stackView.currentIndex
            onCurrentIndexChanged: stackView.setCurrentIndex(currentIndex)
        }
    }

    ExportBoxes {
        onPlayRequested: player.playExport(path)
    }

    // The review player, over every page; "Export this" on a receipt goes the way of the receipt's export.
    PlayerOverlay {
        id: player
        dialogs: direction.dialogs
        onExportReceiptRequested: pageSearch.exportAround(createdAt, cameraId, cameraName, content, highQuality,
                                                          tillClockOffsetMs)
    }
}
