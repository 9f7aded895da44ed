import QtQuick 2.15
import QtQuick.Controls 2.15

// Caption, bar and percentage for the download and the copy. Driven only through its four
// properties; the window clamps the value before it assigns it.
Item {
    id: progressRoot

    property bool isFlashing: false
    property real percentage: 0
    property string fileName: ""
    property string mode: "flashing"

    // For assistive technology: a progress bar from 0 to 100, named after the job it shows.
    readonly property real value: Math.max(0, Math.min(100, percentage))
    readonly property real minimumValue: 0
    readonly property real maximumValue: 100
    Accessible.role: Accessible.ProgressBar
    Accessible.name: progressCaption.text
    Accessible.focusable: true

    visible: isFlashing
    width: parent ? parent.width * 0.4 : 300
    height: 120

    Column {
        id: progressColumn
        objectName: "progressColumn"
        width: progressRoot.width * 0.8
        anchors.centerIn: parent
        spacing: 12

        Text {
            id: progressCaption
            objectName: "progressCaption"
            width: progressColumn.width
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
            // The file name comes from the release server: never interpret it as markup.
            textFormat: Text.PlainText
            font.family: "Poppins"
            // Rounded here, not left to the int conversion (compiled and interpreted bindings
            // differ there). A zero size only warns; it occurs before the width is known.
            font.pixelSize: Math.max(1, Math.round(progressColumn.width * 0.08))
            color: "white"
            opacity: 1
            text: {
                if (progressRoot.mode === "downloading")
                    return "Downloading...";
                if (progressRoot.mode === "transfer")
                    return progressRoot.fileName !== "" ? "Transferring: " + progressRoot.fileName
                                                        : "Transferring...";
                return "Working...";
            }
        }

        Rectangle {
            id: progressTrack
            objectName: "progressTrack"
            width: progressColumn.width
            height: 18
            color: "transparent"
            clip: true

            Rectangle {
                id: progressBackground
                objectName: "progressBackground"
                anchors.fill: parent
                color: "#222"
            }

            Rectangle {
                id: progressFill
                objectName: "progressFill"
                anchors.left: parent.left
                anchors.top: parent.top
                anchors.bottom: parent.bottom
                width: Math.max(0, progressTrack.width * progressRoot.percentage / 100)
                color: "#44BACD"
            }

            Text {
                id: progressText
                objectName: "progressText"
                anchors.centerIn: parent
                textFormat: Text.PlainText
                font.family: "Poppins"
                font.pixelSize: 14
                color: "white"
                text: Math.round(progressRoot.percentage) + "%"
            }
        }
    }
}
