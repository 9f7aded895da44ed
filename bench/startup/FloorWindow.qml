import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15

// The floor: the least a Qt Quick Controls window in the Material style costs to show.
ApplicationWindow {
    visible: true
    width: 360
    height: 750
    color: "black"
    Material.theme: Material.Dark

    Button {
        anchors.centerIn: parent
        text: "Update"
    }
}
