import QtQuick 2.15

// The window's text: white Poppins, read by a screen reader as what it says.
Text {
    Accessible.role: Accessible.StaticText
    Accessible.name: text
    color: "white"
    font.family: "Poppins"
}
