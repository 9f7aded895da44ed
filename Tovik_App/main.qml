import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15

ApplicationWindow {
    id: mainWindow
    objectName: "mainWindow"

    visible: true
    width: 360
    height: 750
    minimumWidth: 360
    minimumHeight: 750
    maximumWidth: 540
    maximumHeight: 1080
    color: "black"
    Material.theme: Material.Dark

    property bool update_available: true
    property bool update_started: false
    property string latestVersion: ""
    property bool inUpdateFlow: false
    property bool inReenumeration: false
    property bool inTransferFlow: false
    property string minTransferVersion: "1.5.0"
    property string deviceVersion: ""
    property var _dotFrames: ["", ".", "..", "..."]
    property int _loadingDots: 0
    property string _loadingBaseText: ""

    // Dotted versions, part by part; a part without leading digits compares equal to anything.
    function compareVersions(a, b) {
        var left = String(a).split(".");
        var right = String(b).split(".");
        var length = Math.max(left.length, right.length);
        for (var i = 0; i < length; ++i) {
            var l = i < left.length ? parseInt(left[i], 10) : 0;
            var r = i < right.length ? parseInt(right[i], 10) : 0;
            if (l < r)
                return -1;
            if (l > r)
                return 1;
        }
        return 0;
    }

    // Transfer mode exists only from firmware 1.5.0 on; an unknown version gets no Transfer.
    function transferAllowed() {
        return deviceVersion !== "" && compareVersions(deviceVersion, minTransferVersion) >= 0;
    }

    function startLoading(baseText) {
        _loadingBaseText = baseText;
        _loadingDots = 0;
        versionText.text = baseText;
        versionText.visible = true;
        loadingTimer.start();
    }

    function stopLoading() {
        loadingTimer.stop();
        _loadingDots = 0;
    }

    function showDisconnected() {
        logoContainer.connected = false;
        logoContainer.dotColor = "red";
        logoContainer.labelText = "Tovik is not connected";
        logoContainer.labelColor = "white";
        updateButton.visible = false;
        transferButton.visible = false;
    }

    function showTransferMode(shown) {
        openProjectsButton.visible = shown;
        openDefinitionsButton.visible = shown;
        completeTransferButton.visible = shown;
        openGroovesButton.visible = shown;
        openMidiFilesButton.visible = shown;
        transferInfoText.visible = shown;
    }

    function clampPercentage(value) {
        var number = Number(value);
        if (isNaN(number))
            return 0;
        return Math.max(0, Math.min(100, number));
    }

    Timer {
        id: loadingTimer
        objectName: "loadingTimer"
        interval: 500
        repeat: true
        running: false
        onTriggered: {
            mainWindow._loadingDots = (mainWindow._loadingDots + 1) % 4;
            versionText.text = mainWindow._loadingBaseText
                    + mainWindow._dotFrames[mainWindow._loadingDots];
        }
    }

    component OutlinedButton: Button {
        font.family: "Poppins"
        font.bold: true
        background: Rectangle {
            color: "black"
            border.color: "white"
            border.width: 2
        }
    }

    // Folder buttons and DONE draw their own label so that long captions wrap inside the frame.
    component WrappedLabelButton: OutlinedButton {
        id: wrappedButton
        contentItem: Text {
            text: wrappedButton.text
            font.family: "Poppins"
            font.bold: true
            font.pixelSize: wrappedButton.font.pixelSize
            color: "white"
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }

    Rectangle {
        id: logoContainer
        objectName: "logoContainer"

        property color dotColor: "orange"
        property string labelText: "Looking for Tovik"
        property color labelColor: "white"
        property bool connected: false

        anchors.top: parent.top
        anchors.topMargin: mainWindow.height * 0.08
        anchors.horizontalCenter: parent.horizontalCenter
        // Half the width, but no wider than keeps the lowest button of every screen inside a
        // window that is wide for its height.
        width: Math.min(mainWindow.width * 0.5, mainWindow.height * 0.24)
        height: width
        color: "transparent"

        Image {
            id: backgroundImage
            objectName: "backgroundImage"
            anchors.fill: parent
            source: "qrc:/icons/icons/logo_middle.png"
            smooth: true
            fillMode: Image.PreserveAspectFit
            layer.enabled: true
            layer.smooth: true
            sourceSize: Qt.size(Math.round(logoContainer.width * 2),
                                Math.round(logoContainer.height * 2))
        }

        Image {
            objectName: "foregroundImage"
            anchors.fill: parent
            source: "qrc:/icons/icons/logo_circle.png"
            smooth: true
            fillMode: Image.PreserveAspectFit
            layer.enabled: true
            layer.smooth: true
            sourceSize: Qt.size(Math.round(logoContainer.width * 2),
                                Math.round(logoContainer.height * 2))
        }

        Row {
            id: dotAndLabelRow
            objectName: "dotAndLabelRow"
            anchors.top: backgroundImage.bottom
            anchors.topMargin: 10
            anchors.horizontalCenter: parent.horizontalCenter
            width: Math.min(logoContainer.width * 0.8, implicitWidth)
            height: logoContainer.height * 0.18
            spacing: 10

            Rectangle {
                id: connectionIndication
                objectName: "connectionIndication"
                anchors.verticalCenter: connectionlabel.verticalCenter
                width: logoContainer.width * 0.055
                height: logoContainer.width * 0.055
                radius: 5
                color: logoContainer.dotColor
            }

            Text {
                id: connectionlabel
                objectName: "connectionlabel"
                text: logoContainer.labelText
                color: logoContainer.labelColor
                horizontalAlignment: Text.AlignHCenter
                renderType: Text.NativeRendering
                font.family: "Poppins"
                font.pixelSize: Math.max(9, Math.round(logoContainer.width * 0.06))
            }
        }
    }

    OutlinedButton {
        id: updateButton
        objectName: "updateButton"
        visible: false
        anchors.top: logoContainer.bottom
        anchors.topMargin: mainWindow.height * 0.1
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        height: width / 3
        font.pixelSize: Math.max(height * 0.35, 1)
        text: "Update"
        onClicked: {
            updateButton.visible = false;
            mainWindow.inUpdateFlow = true;
            transferButton.visible = false;
            versionText.visible = true;
            infoText.visible = true;
            if (mainWindow.update_available)
                startUpdateButton.visible = true;
            else
                closeApplicationButton.visible = true;
        }
    }

    OutlinedButton {
        id: transferButton
        objectName: "transferButton"
        visible: false
        anchors.top: updateButton.bottom
        anchors.topMargin: mainWindow.height * 0.02
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        height: width / 3
        font.pixelSize: Math.max(height * 0.35, 1)
        text: "Transfer"
        onClicked: {
            mainWindow.inReenumeration = true;
            midiHandler.sendTransferSysEx();
            updateButton.visible = false;
            transferButton.visible = false;
            mainWindow.startLoading("Connecting to Tovik");
        }
    }

    GenericProgressBar {
        id: genericProgressBar
        objectName: "genericProgressBar"
        visible: false
        anchors.top: logoContainer.bottom
        anchors.topMargin: mainWindow.height * 0.01
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        height: 120
    }

    Text {
        id: versionText
        objectName: "versionText"
        visible: false
        anchors.top: genericProgressBar.visible ? genericProgressBar.bottom : logoContainer.bottom
        anchors.topMargin: mainWindow.height * 0.02
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        height: width / 2
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        // Shows the catalogue's version string: plain text, so a reply cannot inject markup, and
        // kept inside its box however long it is.
        textFormat: Text.PlainText
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        elide: Text.ElideRight
        color: "white"
        font.family: "Poppins"
        font.bold: true
        font.pixelSize: Math.max(height * 0.15, 1)
        text: "Looking for the latest version or Tvx..."
    }

    Text {
        id: infoText
        objectName: "infoText"
        visible: false
        anchors.top: versionText.bottom
        anchors.topMargin: mainWindow.height * 0.1
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        height: width / 4
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        // Carries download status messages, curl's error output included: never rich text.
        textFormat: Text.PlainText
        color: "white"
        font.family: "Poppins"
        font.bold: true
        font.pixelSize: Math.max(height * 0.21, 1)
        readonly property string updateWarning: "PLEASE MAKE SURE THAT TOVIK IS CONNECTED TO THE BREAKOUT MODULE AND THAT THE MIDI USB PORT IS NOT CONNECTED TO ANY DEVICE \n \n \n The update will take several minutes and Tovik might reboot multiple times during the process. \n \n  DO NOT UNPLUG power or disconnect the Breakout Module until the update is done"
        text: updateWarning
    }

    Text {
        id: infoConnectText
        objectName: "infoConnectText"
        visible: logoContainer.labelText !== "Tovik is connected"
        anchors.top: logoContainer.bottom
        anchors.topMargin: mainWindow.height * 0.08
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        wrapMode: Text.WordWrap
        color: "white"
        font.family: "Poppins"
        font.bold: true
        font.pixelSize: Math.max(width * 0.038, 11)
        text: "1- Connect the USB-C to USB-A Tovik cable to the HOST port of Tovik (USB-C) and to the computer (USB-A).\n\n2- Ensure that the Breakout Module is connected to Tovik by using the USB-C to USB-C cable from the Module Output on Tovik to the USB-C port on the Breakout Module.\n\n3- Make sure that No cables are connected to the USB MIDI port of Tovik."
    }

    OutlinedButton {
        id: startUpdateButton
        objectName: "startUpdateButton"
        visible: false
        enabled: logoContainer.connected
        opacity: logoContainer.connected ? 1 : 0.5
        anchors.top: infoText.bottom
        anchors.topMargin: mainWindow.height * 0.2
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        height: width / 3
        font.pixelSize: Math.max(height * 0.25, 1)
        text: "Start Update"
        onClicked: {
            downloader.downloadFile();
            startUpdateButton.visible = false;
            mainWindow.update_started = true;
            mainWindow.inUpdateFlow = false;
        }
    }

    OutlinedButton {
        id: closeApplicationButton
        objectName: "closeApplicationButton"
        visible: false
        anchors.top: infoText.bottom
        anchors.topMargin: mainWindow.height * 0.2
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        height: width / 3
        font.pixelSize: Math.max(height * 0.25, 1)
        text: "EXIT"
        onClicked: {
            mainWindow.inUpdateFlow = false;
            Qt.quit();
        }
    }

    WrappedLabelButton {
        id: openProjectsButton
        objectName: "openProjectsButton"
        visible: false
        enabled: logoContainer.connected
        opacity: logoContainer.connected ? 1 : 0.5
        anchors.top: logoContainer.bottom
        anchors.topMargin: mainWindow.height * 0.08
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        height: width / 3.2
        font.pixelSize: Math.max(height * 0.22, 9)
        text: "Open Projects"
        onClicked: fileManagerBridge.openProjects()
    }

    WrappedLabelButton {
        id: openDefinitionsButton
        objectName: "openDefinitionsButton"
        visible: false
        enabled: logoContainer.connected
        opacity: logoContainer.connected ? 1 : 0.5
        anchors.top: openProjectsButton.bottom
        anchors.topMargin: mainWindow.height * 0.01
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        height: width / 3.2
        font.pixelSize: Math.max(height * 0.22, 9)
        text: "Open Instruments"
        onClicked: fileManagerBridge.openInstrumentDefinitions()
    }

    WrappedLabelButton {
        id: openMidiFilesButton
        objectName: "openMidiFilesButton"
        visible: false
        enabled: logoContainer.connected
        opacity: logoContainer.connected ? 1 : 0.5
        anchors.top: openDefinitionsButton.bottom
        anchors.topMargin: mainWindow.height * 0.01
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        height: width / 3.2
        font.pixelSize: Math.max(height * 0.22, 9)
        text: "Open MIDI Files"
        onClicked: fileManagerBridge.openMidiFiles()
    }

    WrappedLabelButton {
        id: openGroovesButton
        objectName: "openGroovesButton"
        visible: false
        enabled: logoContainer.connected
        opacity: logoContainer.connected ? 1 : 0.5
        anchors.top: openMidiFilesButton.bottom
        anchors.topMargin: mainWindow.height * 0.01
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        height: width / 3.2
        font.pixelSize: Math.max(height * 0.22, 9)
        text: "Open Grooves"
        onClicked: fileManagerBridge.openGrooves()
    }

    Text {
        id: transferInfoText
        objectName: "transferInfoText"
        readonly property string explanation: "Tovik is now in transfer mode. You can move files between Tovik and this computer. After you are done click the done button to finalize the transfer."
        visible: false
        anchors.top: openGroovesButton.bottom
        anchors.topMargin: mainWindow.height * 0.04
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        wrapMode: Text.WordWrap
        color: "white"
        font.family: "Poppins"
        font.pixelSize: Math.max(width * 0.04, 12)
        text: explanation
    }

    WrappedLabelButton {
        id: completeTransferButton
        objectName: "completeTransferButton"
        visible: false
        enabled: logoContainer.connected
        opacity: logoContainer.connected ? 1 : 0.5
        anchors.top: transferInfoText.bottom
        anchors.topMargin: mainWindow.height * 0.02
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        height: width / 3.2
        font.pixelSize: Math.max(height * 0.22, 10)
        text: "DONE"
        onClicked: {
            mainWindow.inReenumeration = true;
            fileManagerBridge.completeTransfer();
            mainWindow.showTransferMode(false);
            updateButton.visible = false;
            transferButton.visible = false;
            infoText.visible = false;
            mainWindow.startLoading("Finalizing Transfer");
        }
    }

    Connections {
        target: midiHandler
        function onDeviceFound(isConnected) {
            if (isConnected) {
                logoContainer.connected = true;
                logoContainer.dotColor = "green";
                logoContainer.labelText = "Tovik is connected";
                logoContainer.labelColor = "white";
                // An update runs to its end: nothing else is offered meanwhile.
                if (mainWindow.update_started)
                    return;
                if (!mainWindow.inReenumeration && !mainWindow.inUpdateFlow
                        && !mainWindow.inTransferFlow) {
                    updateButton.visible = true;
                    transferButton.visible = mainWindow.transferAllowed();
                } else if (mainWindow.inUpdateFlow) {
                    updateButton.visible = false;
                    transferButton.visible = false;
                }
                return;
            }
            // The instrument drops off the bus on purpose while it switches modes.
            if (mainWindow.inReenumeration)
                return;
            mainWindow.showDisconnected();
        }
    }

    Connections {
        target: midiHandler
        function onTovikReceivedVersion(version) {
            mainWindow.deviceVersion = version;
            if (!mainWindow.inUpdateFlow && !mainWindow.inTransferFlow
                    && !mainWindow.inReenumeration && !mainWindow.update_started)
                transferButton.visible = mainWindow.transferAllowed();
        }
    }

    Connections {
        target: midiHandler
        function onTransferSysExReceived() {
            // Only while entering transfer mode: a late, repeated confirmation changes nothing.
            if (!mainWindow.inReenumeration || mainWindow.inTransferFlow)
                return;
            mainWindow.stopLoading();
            versionText.text = "The latest available version is Tvx" + mainWindow.latestVersion;
            versionText.visible = false;
            mainWindow.inTransferFlow = true;
            updateButton.visible = false;
            transferButton.visible = false;
            transferInfoText.text = transferInfoText.explanation;
            mainWindow.showTransferMode(true);
            mainWindow.inReenumeration = false;
        }
    }

    Connections {
        target: midiHandler
        function onTransferSysExEndReceived() {
            if (!mainWindow.inTransferFlow)
                return;
            mainWindow.stopLoading();
            versionText.visible = false;
            versionText.text = "The latest available version is Tvx" + mainWindow.latestVersion;
            mainWindow.inTransferFlow = false;
            updateButton.visible = true;
            transferButton.visible = mainWindow.transferAllowed();
            mainWindow.inReenumeration = false;
        }
    }

    Connections {
        target: midiHandler
        // Only a detection that gave up: the instrument did not come back in time. The window
        // goes home and shows it as absent until the next check finds it.
        function onDeviceReenumerationFinished(success) {
            if (success || mainWindow.update_started)
                return;
            mainWindow.stopLoading();
            versionText.visible = false;
            versionText.text = "The latest available version is Tvx" + mainWindow.latestVersion;
            mainWindow.showTransferMode(false);
            mainWindow.inTransferFlow = false;
            mainWindow.inReenumeration = false;
            mainWindow.showDisconnected();
        }
    }

    Connections {
        target: downloader
        function onLatestVersionFetched(version) {
            mainWindow.latestVersion = version;
            versionText.text = "The latest available version is Tvx" + mainWindow.latestVersion;
        }
        function onDownloadingProgressBar(progress) {
            genericProgressBar.percentage = mainWindow.clampPercentage(progress);
            genericProgressBar.mode = "downloading";
            genericProgressBar.fileName = "";
            genericProgressBar.visible = true;
            versionText.visible = false;
        }
        function onVersionCheck(flag) {
            // Once the download has started, a late answer changes nothing.
            if (mainWindow.update_started)
                return;
            if (flag) {
                versionText.text = "The latest version is already installed!";
                infoText.text = "The latest version is already installed! You can now close this application.";
                console.log("The latest version is already installed!");
            } else {
                // Another instrument, one that needs the update, was connected.
                versionText.text = "The latest available version is Tvx" + mainWindow.latestVersion;
                infoText.text = infoText.updateWarning;
            }
            mainWindow.update_available = !flag;
            // On the Update prompt the button follows the answer.
            if (mainWindow.inUpdateFlow) {
                startUpdateButton.visible = !flag;
                closeApplicationButton.visible = flag;
            }
        }
        // The instrument back from applying the update, reporting the firmware it now runs.
        function onUpdateConfirmed(success, version) {
            infoText.text = success
                    ? "Update complete! Tovik now runs firmware Tvx" + version + ". You can now close this application."
                    : "Tovik still reports firmware Tvx" + version + " after the update, so the update did not take. Start the application again to retry, or contact support.";
        }
        function onDownloadStatus(success, message) {
            infoText.visible = true;
            infoText.text = message;
            genericProgressBar.visible = false;
            if (!success) {
                versionText.text = "Download failed!";
                closeApplicationButton.visible = true;
            } else {
                versionText.text = "Trying a different route now\u2014hang tight...";
                closeApplicationButton.visible = false;
            }
        }
    }

    Connections {
        target: mainController
        function onFileTransferComplete(success) {
            mainWindow.inReenumeration = true;
            if (success) {
                dotAndLabelRow.visible = false;
                versionText.text = "File transfer complete!";
                infoText.text = "File transfer complete! Tovik will now reboot to apply the update. You can now close this application.";
                closeApplicationButton.visible = true;
                genericProgressBar.visible = false;
            } else {
                mainWindow.inReenumeration = false;
                versionText.text = "File transfer failed!";
                infoText.text = "Something went wrong during the file transfer. Please try again or contact support.";
                closeApplicationButton.visible = true;
                genericProgressBar.visible = false;
            }
        }
        // The volume was not released (a file is open on it): back to transfer mode, saying why.
        function onEjectCompleted(success) {
            if (success)
                return;
            mainWindow.stopLoading();
            versionText.visible = false;
            transferInfoText.text = "Tovik's storage could not be released. Close any file that is open on it, then press DONE again.";
            mainWindow.showTransferMode(true);
            mainWindow.inReenumeration = false;
        }
        function onCopyingFileProgress(progress) {
            genericProgressBar.percentage = mainWindow.clampPercentage(progress);
            genericProgressBar.mode = "transfer";
            genericProgressBar.fileName = "";
            genericProgressBar.visible = true;
            versionText.visible = false;
        }
    }
}
