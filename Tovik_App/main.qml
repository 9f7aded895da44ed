import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls.Material 2.15
import QtQml.Models 2.15

ApplicationWindow {
    id: mainWindow
    objectName: "mainWindow"

    // On a screen lower than 750 pixels the window takes the height there is, so that every
    // button stays on it; the layout scales with the height.
    readonly property int screenRoom: Math.min(Screen.height, Screen.desktopAvailableHeight)
    readonly property int fittingHeight: screenRoom > 0 ? Math.min(750, screenRoom) : 750
    // And the transfer explanation's smallest size with it, so that DONE stays on the screen.
    readonly property real shrink: Math.min(1, height / 750)

    visible: true
    width: 360
    height: fittingHeight
    minimumWidth: 360
    minimumHeight: fittingHeight
    maximumWidth: 540
    maximumHeight: 1080
    color: "black"
    Material.theme: Material.Dark
    // The name the platform shows in the title bar anyway; set, so that assistive technology
    // reads it as the window's name too.
    title: Qt.application.name

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
    // The instrument waits in update mode for an update this run did not start.
    property bool inRecovery: false
    property bool copyFailed: false
    property bool updateVolumePresent: false

    // Whether the keyboard is in use: set by a key on a button or by the keyboard moving the focus
    // to one, cleared when a button takes the focus otherwise (a click). A button focused after a
    // step shows its focus frame only then.
    property bool keyboardInUse: false

    // After each step the new screen's main control or text takes the focus, so that a screen
    // reader reads it and the next key press acts on it.
    function focusStep(item) {
        item.forceActiveFocus(keyboardInUse ? Qt.TabFocusReason : Qt.OtherFocusReason);
    }

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
        focusStep(versionText);
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
        focusStep(connectionlabel);
    }

    function showTransferMode(shown) {
        folderButtons.visible = shown;
        completeTransferButton.visible = shown;
        transferInfoText.visible = shown;
    }

    // An interrupted update: the instrument is off MIDI, its update volume mounted.
    function showRecovery() {
        if (logoContainer.connected || mainWindow.inTransferFlow || mainWindow.inReenumeration)
            return;
        mainWindow.inRecovery = true;
        mainWindow.inUpdateFlow = false;
        logoContainer.dotColor = "orange";
        logoContainer.labelText = "Tovik is waiting for its update";
        updateButton.visible = false;
        transferButton.visible = false;
        startUpdateButton.visible = false;
        closeApplicationButton.visible = false;
        versionText.text = "The last update did not finish.";
        versionText.visible = true;
        infoText.text = infoText.updateWarning;
        infoText.visible = true;
        resumeUpdateButton.visible = true;
    }

    function leaveRecovery() {
        mainWindow.inRecovery = false;
        resumeUpdateButton.visible = false;
        closeApplicationButton.visible = false;
        versionText.visible = false;
        versionText.text = versionText.latestVersionLine;
        infoText.visible = false;
        if (!logoContainer.connected) {
            logoContainer.dotColor = "orange";
            logoContainer.labelText = "Looking for Tovik";
        }
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

    // The window's buttons, as wide as the logo and centred under it. One with takesFocus set is
    // the main action of its screen: it takes the focus whenever it is shown and can be pressed.
    // One with needsInstrument set cannot be pressed while the instrument is away.
    component OutlinedButton: TovikButton {
        id: outlinedButton
        property bool takesFocus: false
        property bool needsInstrument: false
        readonly property bool offered: visible && enabled
        onOfferedChanged: if (offered && takesFocus) mainWindow.focusStep(outlinedButton)
        onActiveFocusChanged: if (activeFocus) mainWindow.keyboardInUse = visualFocus
        // A key on a button means the keyboard is in use; Enter presses it as Space does.
        Keys.onPressed: function(event) {
            mainWindow.keyboardInUse = true;
            event.accepted = event.key === Qt.Key_Return || event.key === Qt.Key_Enter;
            if (event.accepted)
                clicked();
        }
        enabled: !needsInstrument || logoContainer.connected
        anchors.horizontalCenter: parent ? parent.horizontalCenter : undefined
        width: logoContainer.width
    }

    // The transfer screen's buttons act on the instrument's storage, so they need it there; they
    // draw their own label so that long captions wrap inside the frame.
    component WrappedLabelButton: OutlinedButton {
        id: wrappedButton
        needsInstrument: true
        proportion: 3.2
        captionShare: 0.22
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

    // One layer of the logo, filling its box, kept sharp at twice the box's size.
    component LogoLayer: Image {
        anchors.fill: parent
        smooth: true
        fillMode: Image.PreserveAspectFit
        layer.enabled: true
        layer.smooth: true
        sourceSize: Qt.size(Math.round(width * 2), Math.round(height * 2))
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

        LogoLayer {
            id: backgroundImage
            objectName: "backgroundImage"
            Accessible.role: Accessible.Graphic
            Accessible.name: "Tovik logo"
            source: "qrc:/icons/icons/logo_middle.png"
        }

        LogoLayer {
            objectName: "foregroundImage"
            // The ring of the same logo.
            Accessible.ignored: true
            source: "qrc:/icons/icons/logo_circle.png"
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

            TovikText {
                id: connectionlabel
                objectName: "connectionlabel"
                Accessible.focusable: true
                // Read first, while the instrument is looked for.
                focus: true
                text: logoContainer.labelText
                color: logoContainer.labelColor
                horizontalAlignment: Text.AlignHCenter
                renderType: Text.NativeRendering
                font.pixelSize: Math.max(9, Math.round(logoContainer.width * 0.06))
            }
        }
    }

    OutlinedButton {
        id: updateButton
        objectName: "updateButton"
        takesFocus: true
        captionShare: 0.35
        anchors.top: logoContainer.bottom
        anchors.topMargin: mainWindow.height * 0.1
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
        captionShare: 0.35
        anchors.top: updateButton.bottom
        anchors.topMargin: mainWindow.height * 0.02
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
        onVisibleChanged: if (visible) mainWindow.focusStep(genericProgressBar)
        visible: false
        anchors.top: logoContainer.bottom
        anchors.topMargin: mainWindow.height * 0.01
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        height: 120
    }

    TovikText {
        id: versionText
        objectName: "versionText"
        // The animation's frames are not read out one by one, nor the texts that the end of the
        // wait sets before the next screen has taken the focus.
        Accessible.name: mainWindow.inReenumeration && mainWindow._loadingBaseText !== ""
                         ? mainWindow._loadingBaseText + "..." : text
        Accessible.focusable: true
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
        font.bold: true
        font.pixelSize: Math.max(height * 0.15, 1)
        text: "Looking for the latest version or Tvx..."
        // What it shows once the catalogue has answered, and again when a flow ends.
        readonly property string latestVersionLine: "The latest available version is Tvx"
                                                    + mainWindow.latestVersion
    }

    TovikText {
        id: infoText
        objectName: "infoText"
        Accessible.focusable: true
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
        font.bold: true
        font.pixelSize: Math.max(height * 0.21, 1)
        text: updateWarning
        readonly property string updateWarning: "PLEASE MAKE SURE THAT TOVIK IS CONNECTED TO THE BREAKOUT MODULE AND THAT THE MIDI USB PORT IS NOT CONNECTED TO ANY DEVICE \n \n \n The update will take several minutes and Tovik might reboot multiple times during the process. \n \n  DO NOT UNPLUG power or disconnect the Breakout Module until the update is done"
    }

    TovikText {
        id: infoConnectText
        objectName: "infoConnectText"
        // Not over the texts of an update that has ended: the user can only leave then.
        visible: !logoContainer.connected && !mainWindow.inRecovery
                 && !(mainWindow.update_started && closeApplicationButton.visible)
        anchors.top: logoContainer.bottom
        anchors.topMargin: mainWindow.height * 0.08
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        wrapMode: Text.WordWrap
        font.bold: true
        font.pixelSize: Math.max(width * 0.038, 11)
        text: "1- Connect the USB-C to USB-A Tovik cable to the HOST port of Tovik (USB-C) and to the computer (USB-A).\n\n2- Ensure that the Breakout Module is connected to Tovik by using the USB-C to USB-C cable from the Module Output on Tovik to the USB-C port on the Breakout Module.\n\n3- Make sure that No cables are connected to the USB MIDI port of Tovik."
    }

    OutlinedButton {
        id: startUpdateButton
        objectName: "startUpdateButton"
        takesFocus: true
        needsInstrument: true
        anchors.top: infoText.bottom
        anchors.topMargin: mainWindow.height * 0.2
        text: "Start Update"
        Accessible.description: infoText.text
        onClicked: {
            downloader.downloadFile();
            mainWindow.focusStep(infoText);
            startUpdateButton.visible = false;
            mainWindow.update_started = true;
            mainWindow.inUpdateFlow = false;
        }
    }

    OutlinedButton {
        id: tryAgainButton
        objectName: "tryAgainButton"
        anchors.bottom: closeApplicationButton.top
        anchors.bottomMargin: mainWindow.height * 0.02
        text: "Try Again"
        Accessible.description: infoText.visible ? infoText.text : ""
        onClicked: {
            fileManagerBridge.retryUpdate();
            mainWindow.copyFailed = false;
            tryAgainButton.visible = false;
            closeApplicationButton.visible = false;
            infoText.text = infoText.updateWarning;
            genericProgressBar.percentage = 0;
            genericProgressBar.mode = "transfer";
            genericProgressBar.visible = true;
            versionText.visible = false;
        }
    }

    OutlinedButton {
        id: closeApplicationButton
        objectName: "closeApplicationButton"
        takesFocus: true
        anchors.top: infoText.bottom
        anchors.topMargin: mainWindow.height * 0.2
        text: "EXIT"
        Accessible.description: infoText.visible ? infoText.text : ""
        onClicked: {
            mainWindow.inUpdateFlow = false;
            Qt.quit();
        }
    }

    OutlinedButton {
        id: resumeUpdateButton
        objectName: "resumeUpdateButton"
        takesFocus: true
        anchors.top: infoText.bottom
        anchors.topMargin: mainWindow.height * 0.2
        text: "Resume Update"
        Accessible.description: infoText.text
        // Not bound to the connection: in update mode the instrument is not on MIDI.
        onClicked: {
            midiHandler.resumeUpdate();
            downloader.downloadFile();
            resumeUpdateButton.visible = false;
            mainWindow.update_started = true;
        }
    }

    // Transfer mode's folder buttons, shown and hidden together, one under the other.
    Item {
        id: folderButtons
        visible: false
        anchors.top: logoContainer.bottom
        anchors.topMargin: mainWindow.height * 0.08
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        height: childrenRect.height

        // Instantiated rather than repeated: a Repeater's buttons would not be QObject
        // descendants of the window, so a lookup by name (findChild) would miss them.
        Instantiator {
            model: [
                {name: "openProjectsButton", text: "Open Projects", open: "openProjects"},
                {name: "openDefinitionsButton", text: "Open Instruments",
                 open: "openInstrumentDefinitions"},
                {name: "openMidiFilesButton", text: "Open MIDI Files", open: "openMidiFiles"},
                {name: "openGroovesButton", text: "Open Grooves", open: "openGrooves"}
            ]
            delegate: WrappedLabelButton {
                id: folderButton
                required property var modelData
                required property int index
                parent: folderButtons
                objectName: modelData.name
                // The first folder is where transfer mode starts; it explains the mode.
                takesFocus: index === 0
                Accessible.description: index === 0 ? transferInfoText.text : ""
                visible: true
                y: index * (height + mainWindow.height * 0.01)
                smallestCaption: 9
                text: modelData.text
                onClicked: fileManagerBridge[folderButton.modelData.open]()
            }
        }
    }

    TovikText {
        id: transferInfoText
        objectName: "transferInfoText"
        readonly property string explanation: "Tovik is now in transfer mode. You can move files between Tovik and this computer. After you are done click the done button to finalize the transfer."
        visible: false
        anchors.top: folderButtons.bottom
        anchors.topMargin: mainWindow.height * 0.04
        anchors.horizontalCenter: parent.horizontalCenter
        width: logoContainer.width
        wrapMode: Text.WordWrap
        font.pixelSize: Math.max(width * 0.04, 12 * mainWindow.shrink)
        text: explanation
    }

    WrappedLabelButton {
        id: completeTransferButton
        objectName: "completeTransferButton"
        anchors.top: transferInfoText.bottom
        anchors.topMargin: mainWindow.height * 0.02
        smallestCaption: 10
        text: "DONE"
        Accessible.description: transferInfoText.text
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
                // Back on MIDI: whatever was on the update volume is not waited for any more.
                if (mainWindow.inRecovery && !mainWindow.update_started)
                    mainWindow.leaveRecovery();
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
            if (mainWindow.updateVolumePresent && !mainWindow.update_started)
                mainWindow.showRecovery();
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
            versionText.text = versionText.latestVersionLine;
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
            versionText.text = versionText.latestVersionLine;
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
            versionText.text = versionText.latestVersionLine;
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
            if (!mainWindow.inRecovery)
                versionText.text = versionText.latestVersionLine;
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
                versionText.text = versionText.latestVersionLine;
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
            // The answer to "did it work?" is heard: the outcome takes the focus from EXIT.
            mainWindow.focusStep(infoText);
        }
        function onDownloadStatus(success, message) {
            infoText.visible = true;
            infoText.text = message;
            genericProgressBar.visible = false;
            if (!success) {
                versionText.text = "Download failed!";
                if (mainWindow.inRecovery && mainWindow.latestVersion === "")
                    infoText.text = "Tovik needs the update file to finish its update, and it could not be downloaded. Please check the internet connection, then start the application again.";
                closeApplicationButton.visible = true;
            } else {
                versionText.text = "Trying a different route now\u2014hang tight...";
                closeApplicationButton.visible = false;
                mainWindow.focusStep(infoText);
            }
        }
    }

    Connections {
        target: mainController
        function onFileTransferComplete(success) {
            mainWindow.copyFailed = !success;
            tryAgainButton.visible = !success && mainWindow.updateVolumePresent;
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
            mainWindow.focusStep(completeTransferButton);
            mainWindow.inReenumeration = false;
        }
        function onUpdateVolumeMounted(mounted) {
            mainWindow.updateVolumePresent = mounted;
            // This run's own update: its volume is what TRY AGAIN copies to.
            if (mainWindow.update_started) {
                tryAgainButton.visible = mounted && mainWindow.copyFailed;
                return;
            }
            if (mounted)
                mainWindow.showRecovery();
            else if (mainWindow.inRecovery)
                mainWindow.leaveRecovery();
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
