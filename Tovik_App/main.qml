import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15

ApplicationWindow {
    visible: true
    width: 360
    height: 750
    color: "black"
    Material.theme: Material.Dark
}
