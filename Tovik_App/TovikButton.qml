import QtQuick 2.15
import QtQuick.Controls 2.15

// The window's button: a bold Poppins caption in a white frame on black, its height and caption
// size following its width, drawn at half strength while it cannot be pressed. Hidden until a
// step shows it.
Button {
    id: control

    // Width over height, and the caption's size as a share of the height, never below the
    // smallest size.
    property real proportion: 3
    property real captionShare: 0.25
    property int smallestCaption: 1

    visible: false
    height: width / proportion
    opacity: enabled ? 1 : 0.5
    font.family: "Poppins"
    font.bold: true
    // Cut to whole pixels here: left to the int conversion, compiled and interpreted bindings
    // would round differently.
    font.pixelSize: Math.floor(Math.max(height * captionShare, smallestCaption))
    background: Rectangle {
        color: "black"
        border.color: "white"
        border.width: 2

        // The keyboard focus, drawn inside the frame; only while the keyboard is used.
        Rectangle {
            anchors.fill: parent
            anchors.margins: 5
            color: "transparent"
            border.color: "#44BACD"
            border.width: 2
            visible: control.visualFocus
        }
    }
}
