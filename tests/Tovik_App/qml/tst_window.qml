import QtQuick 2.15
import QtQuick.Controls 2.15
import QtTest 1.15
import TovikTest 1.0

// The real main.qml, loaded from the resources, driven through doubles of its context objects.
TestCase {
    id: testCase
    name: "Window"

    property var component: null
    property var win: null

    readonly property var allElements: ["updateButton", "transferButton", "genericProgressBar",
        "versionText", "infoText", "infoConnectText", "startUpdateButton",
        "closeApplicationButton", "openProjectsButton", "openDefinitionsButton",
        "openMidiFilesButton", "openGroovesButton", "transferInfoText",
        "completeTransferButton", "dotAndLabelRow"]
    readonly property var folderButtons: ["openProjectsButton", "openDefinitionsButton",
        "openMidiFilesButton", "openGroovesButton", "completeTransferButton"]

    readonly property string updateWarning: "PLEASE MAKE SURE THAT TOVIK IS CONNECTED TO THE BREAKOUT MODULE AND THAT THE MIDI USB PORT IS NOT CONNECTED TO ANY DEVICE \n \n \n The update will take several minutes and Tovik might reboot multiple times during the process. \n \n  DO NOT UNPLUG power or disconnect the Breakout Module until the update is done"
    readonly property string connectInstructions: "1- Connect the USB-C to USB-A Tovik cable to the HOST port of Tovik (USB-C) and to the computer (USB-A).\n\n2- Ensure that the Breakout Module is connected to Tovik by using the USB-C to USB-C cable from the Module Output on Tovik to the USB-C port on the Breakout Module.\n\n3- Make sure that No cables are connected to the USB MIDI port of Tovik."
    readonly property string transferExplanation: "Tovik is now in transfer mode. You can move files between Tovik and this computer. After you are done click the done button to finalize the transfer."

    SignalSpy {
        id: textSpy
        signalName: "textChanged"
    }

    // Reference texts for the markup check: one plain, one that interprets tags.
    Text {
        id: plainReference
        textFormat: Text.PlainText
        visible: false
    }
    Text {
        id: styledReference
        textFormat: Text.StyledText
        visible: false
    }

    function initTestCase() {
        component = Qt.createComponent("qrc:/Tovik_App/main.qml");
        compare(component.status, Component.Ready, component.errorString());
    }

    function init() {
        Doubles.reset();
        win = component.createObject(null);
        verify(win !== null, "main.qml did not create its window");
        tryVerify(function() { return win.contentItem.width > 0; });
    }

    function cleanup() {
        textSpy.target = null;
        textSpy.clear();
        win.destroy();
        win = null;
        wait(0);
    }

    function el(name) {
        var found = findChild(win.contentItem, name);
        verify(found !== null, "no element named " + name);
        return found;
    }

    function click(name) {
        var button = el(name);
        verify(button.visible, name + " is not visible");
        mouseClick(button);
    }

    function expectVisible(shown) {
        for (var i = 0; i < allElements.length; ++i) {
            var name = allElements[i];
            compare(el(name).visible, shown.indexOf(name) >= 0, name + " visibility");
        }
    }

    function expectIndicator(color, label, connected) {
        var logo = el("logoContainer");
        verify(Qt.colorEqual(logo.dotColor, color), "dot is " + logo.dotColor + ", not " + color);
        compare(logo.labelText, label);
        compare(el("connectionlabel").text, label);
        verify(Qt.colorEqual(el("connectionIndication").color, color));
        verify(Qt.colorEqual(logo.labelColor, "white"));
        compare(logo.connected, connected);
    }

    function expectFlags(updateStarted, inUpdateFlow, inReenumeration, inTransferFlow) {
        compare(win.update_started, updateStarted, "update_started");
        compare(win.inUpdateFlow, inUpdateFlow, "inUpdateFlow");
        compare(win.inReenumeration, inReenumeration, "inReenumeration");
        compare(win.inTransferFlow, inTransferFlow, "inTransferFlow");
    }

    // Brings a fresh window into one of the states of the flow.
    function enterState(state) {
        var midi = Doubles.midiHandler;
        switch (state) {
        case "searching":
            return;
        case "home":
            midi.deviceFound(true);
            midi.tovikReceivedVersion("1.5.2");
            Doubles.downloader.latestVersionFetched("1.6.0");
            return;
        case "updatePrompt":
            enterState("home");
            click("updateButton");
            return;
        case "updating":
            enterState("updatePrompt");
            click("startUpdateButton");
            Doubles.downloader.downloadingProgressBar(42);
            return;
        case "copying":
            enterState("updating");
            Doubles.mainController.copyingFileProgress(81);
            return;
        case "updateFinished":
            enterState("copying");
            Doubles.mainController.fileTransferComplete(true);
            return;
        case "updateFailed":
            enterState("copying");
            Doubles.mainController.fileTransferComplete(false);
            return;
        case "enteringTransfer":
            enterState("home");
            click("transferButton");
            return;
        case "transferMode":
            enterState("enteringTransfer");
            midi.transferSysExReceived();
            return;
        case "finalizing":
            enterState("transferMode");
            click("completeTransferButton");
            return;
        case "backHome":
            enterState("finalizing");
            midi.transferSysExEndReceived();
            return;
        }
        fail("unknown state " + state);
    }

    function test_initialWindow() {
        compare(win.visible, true);
        compare(win.width, 360);
        compare(win.height, 750);
        compare(win.minimumWidth, 360);
        compare(win.minimumHeight, 750);
        compare(win.maximumWidth, 540);
        compare(win.maximumHeight, 1080);
        verify(Qt.colorEqual(win.color, "black"));
        compare(win.title, "");
        expectVisible(["infoConnectText", "dotAndLabelRow"]);
        compare(el("logoContainer").visible, true);
        compare(el("backgroundImage").source, "qrc:/icons/icons/logo_middle.png");
        compare(el("backgroundImage").status, Image.Ready);
        compare(el("foregroundImage").source, "qrc:/icons/icons/logo_circle.png");
        compare(el("foregroundImage").status, Image.Ready);
        expectIndicator("orange", "Looking for Tovik", false);
        expectFlags(false, false, false, false);
        compare(win.update_available, true);
        compare(win.latestVersion, "");
        compare(win.deviceVersion, "");
        compare(win.minTransferVersion, "1.5.0");
        compare(win._dotFrames, ["", ".", "..", "..."]);
        compare(win._loadingDots, 0);
        compare(win._loadingBaseText, "");
        compare(el("versionText").text, "Looking for the latest version or Tvx...");
        compare(el("infoText").text, updateWarning);
        compare(el("infoConnectText").text, connectInstructions);
        compare(el("transferInfoText").text, transferExplanation);
    }

    function test_labels_data() {
        return [
            { tag: "updateButton", text: "Update" },
            { tag: "transferButton", text: "Transfer" },
            { tag: "startUpdateButton", text: "Start Update" },
            { tag: "closeApplicationButton", text: "EXIT" },
            { tag: "openProjectsButton", text: "Open Projects" },
            { tag: "openDefinitionsButton", text: "Open Instruments" },
            { tag: "openMidiFilesButton", text: "Open MIDI Files" },
            { tag: "openGroovesButton", text: "Open Grooves" },
            { tag: "completeTransferButton", text: "DONE" }
        ];
    }

    function test_labels(data) {
        var button = el(data.tag);
        compare(button.text, data.text);
        compare(button.font.family, "Poppins");
        compare(button.font.bold, true);
        verify(Qt.colorEqual(button.background.color, "black"));
        verify(Qt.colorEqual(button.background.border.color, "white"));
        compare(button.background.border.width, 2);
        // The folder buttons and DONE draw their own white, wrapping label.
        if (folderButtons.indexOf(data.tag) >= 0) {
            compare(button.contentItem.text, data.text);
            verify(Qt.colorEqual(button.contentItem.color, "white"));
            compare(button.contentItem.wrapMode, Text.WordWrap);
        }
    }

    function test_compareVersions_data() {
        return [
            { tag: "1.10.0 > 1.5.0", a: "1.10.0", b: "1.5.0", result: 1 },
            { tag: "1.5 == 1.5.0", a: "1.5", b: "1.5.0", result: 0 },
            { tag: "1.5.0 == 1.5", a: "1.5.0", b: "1.5", result: 0 },
            { tag: "1.4.9 < 1.5.0", a: "1.4.9", b: "1.5.0", result: -1 },
            { tag: "1.5.0-beta == 1.5.0", a: "1.5.0-beta", b: "1.5.0", result: 0 },
            { tag: "numeric not lexical", a: "2.0", b: "10.0", result: -1 },
            { tag: "longer wins", a: "1.5.0.1", b: "1.5.0", result: 1 },
            { tag: "leading spaces", a: " 2.0", b: "1.9", result: 1 },
            { tag: "non-digit part equal", a: "x.9", b: "1.0", result: 1 },
            { tag: "non-digit part both", a: "1.beta", b: "1.7", result: 0 },
            { tag: "empty against version", a: "", b: "1.5.0", result: -1 },
            { tag: "equal", a: "1.5.0", b: "1.5.0", result: 0 },
            { tag: "major decides", a: "2.0.0", b: "1.99.99", result: 1 }
        ];
    }

    function test_compareVersions(data) {
        compare(win.compareVersions(data.a, data.b), data.result);
    }

    // State table: what each state shows, and what a disconnection there changes.
    function test_states_data() {
        var home = ["updateButton", "transferButton", "dotAndLabelRow"];
        var prompt = ["versionText", "infoText", "startUpdateButton", "dotAndLabelRow"];
        var transfer = ["openProjectsButton", "openDefinitionsButton", "openMidiFilesButton",
                        "openGroovesButton", "transferInfoText", "completeTransferButton",
                        "dotAndLabelRow"];
        return [
            { tag: "searching", shown: ["infoConnectText", "dotAndLabelRow"],
              color: "orange", label: "Looking for Tovik", connected: false,
              flags: [false, false, false, false],
              lostShown: ["infoConnectText", "dotAndLabelRow"], lostColor: "red" },
            { tag: "home", shown: home, color: "green", label: "Tovik is connected",
              connected: true, flags: [false, false, false, false],
              lostShown: ["infoConnectText", "dotAndLabelRow"], lostColor: "red" },
            { tag: "updatePrompt", shown: prompt, color: "green", label: "Tovik is connected",
              connected: true, flags: [false, true, false, false],
              lostShown: ["versionText", "infoText", "startUpdateButton", "infoConnectText",
                          "dotAndLabelRow"], lostColor: "red" },
            { tag: "updating", shown: ["genericProgressBar", "infoText", "dotAndLabelRow"],
              color: "green", label: "Tovik is connected", connected: true,
              flags: [true, false, false, false],
              lostShown: ["genericProgressBar", "infoText", "infoConnectText", "dotAndLabelRow"],
              lostColor: "red" },
            { tag: "updateFinished", shown: ["infoText", "closeApplicationButton"],
              color: "green", label: "Tovik is connected", connected: true,
              flags: [true, false, true, false],
              lostShown: ["infoText", "closeApplicationButton"], lostColor: "green" },
            { tag: "updateFailed", shown: ["infoText", "closeApplicationButton", "dotAndLabelRow"],
              color: "green", label: "Tovik is connected", connected: true,
              flags: [true, false, false, false],
              lostShown: ["infoText", "closeApplicationButton", "infoConnectText",
                          "dotAndLabelRow"], lostColor: "red" },
            { tag: "enteringTransfer", shown: ["versionText", "dotAndLabelRow"], color: "green",
              label: "Tovik is connected", connected: true, flags: [false, false, true, false],
              lostShown: ["versionText", "dotAndLabelRow"], lostColor: "green" },
            { tag: "transferMode", shown: transfer, color: "green", label: "Tovik is connected",
              connected: true, flags: [false, false, false, true],
              lostShown: transfer.concat(["infoConnectText"]), lostColor: "red" },
            { tag: "finalizing", shown: ["versionText", "dotAndLabelRow"], color: "green",
              label: "Tovik is connected", connected: true, flags: [false, false, true, true],
              lostShown: ["versionText", "dotAndLabelRow"], lostColor: "green" },
            { tag: "backHome", shown: home, color: "green", label: "Tovik is connected",
              connected: true, flags: [false, false, false, false],
              lostShown: ["infoConnectText", "dotAndLabelRow"], lostColor: "red" }
        ];
    }

    function test_states(data) {
        enterState(data.tag);
        expectVisible(data.shown);
        expectIndicator(data.color, data.label, data.connected);
        expectFlags(data.flags[0], data.flags[1], data.flags[2], data.flags[3]);

        var textBefore = el("versionText").text;
        Doubles.midiHandler.deviceFound(false);
        expectVisible(data.lostShown);
        var lost = data.lostColor === "red";
        expectIndicator(data.lostColor, lost ? "Tovik is not connected" : data.label,
                        lost ? false : data.connected);
        expectFlags(data.flags[0], data.flags[1], data.flags[2], data.flags[3]);
        if (!lost && findChild(win, "loadingTimer").running)
            compare(el("versionText").text.indexOf(win._loadingBaseText), 0, "animation kept");
        if (data.tag === "updateFinished")
            compare(el("versionText").text, textBefore);

        // Buttons that act on the instrument follow connected, shown or not.
        var dependent = folderButtons.concat(["startUpdateButton"]);
        for (var i = 0; i < dependent.length; ++i) {
            var button = el(dependent[i]);
            compare(button.enabled, el("logoContainer").connected, dependent[i] + " enabled");
            compare(button.opacity, el("logoContainer").connected ? 1 : 0.5,
                    dependent[i] + " opacity");
        }
    }

    function test_transferRule_data() {
        return [
            { tag: "1.4.9 no Transfer", version: "1.4.9", transfer: false },
            { tag: "1.5.0 Transfer", version: "1.5.0", transfer: true },
            { tag: "1.5 Transfer", version: "1.5", transfer: true },
            { tag: "1.10.0 Transfer", version: "1.10.0", transfer: true },
            { tag: "1.5.0-beta Transfer", version: "1.5.0-beta", transfer: true },
            { tag: "0.9 no Transfer", version: "0.9", transfer: false },
            { tag: "2 Transfer", version: "2", transfer: true }
        ];
    }

    function test_transferRule(data) {
        // No version yet: Update only.
        Doubles.midiHandler.deviceFound(true);
        compare(el("updateButton").visible, true);
        compare(el("transferButton").visible, false);
        // The version reply alone decides Transfer when no flow is active.
        Doubles.midiHandler.tovikReceivedVersion(data.version);
        compare(win.deviceVersion, data.version);
        compare(el("transferButton").visible, data.transfer);
        // And the next presence report keeps to the same rule.
        Doubles.midiHandler.deviceFound(true);
        compare(el("transferButton").visible, data.transfer);
        compare(el("updateButton").visible, true);
    }

    function test_versionReplyDuringFlow_data() {
        return [
            { tag: "updatePrompt", transfer: false },
            { tag: "enteringTransfer", transfer: false },
            { tag: "transferMode", transfer: false },
            { tag: "finalizing", transfer: false },
            { tag: "updateFinished", transfer: false },
            // After Start Update no flow flag is set: the rule applies again.
            { tag: "updating", transfer: true },
            { tag: "updateFailed", transfer: true }
        ];
    }

    function test_versionReplyDuringFlow(data) {
        enterState(data.tag);
        Doubles.midiHandler.tovikReceivedVersion("1.7.0");
        compare(win.deviceVersion, "1.7.0");
        compare(el("transferButton").visible, data.transfer);
    }

    function test_presenceDuringUpdateChangesNothing() {
        enterState("updating");
        Doubles.midiHandler.deviceFound(false);
        expectIndicator("red", "Tovik is not connected", false);
        Doubles.midiHandler.deviceFound(true);
        // Only connected follows; the indicator and the buttons stay as they were.
        expectIndicator("red", "Tovik is not connected", true);
        expectVisible(["genericProgressBar", "infoText", "infoConnectText", "dotAndLabelRow"]);
        compare(el("startUpdateButton").enabled, true);
    }

    function test_presenceInUpdatePromptHidesActions() {
        enterState("updatePrompt");
        el("updateButton").visible = true;
        el("transferButton").visible = true;
        Doubles.midiHandler.deviceFound(true);
        compare(el("updateButton").visible, false);
        compare(el("transferButton").visible, false);
        compare(el("startUpdateButton").visible, true);
    }

    function test_updateFlow() {
        Doubles.midiHandler.deviceFound(true);
        Doubles.downloader.latestVersionFetched("1.6.0");
        Doubles.downloader.latestVersionFetched("1.6.1");
        compare(win.latestVersion, "1.6.1");
        compare(el("versionText").text, "The latest available version is Tvx1.6.1");
        compare(el("versionText").visible, false);

        click("updateButton");
        expectVisible(["versionText", "infoText", "startUpdateButton", "dotAndLabelRow"]);
        compare(el("startUpdateButton").enabled, true);
        compare(el("startUpdateButton").opacity, 1);
        compare(Doubles.downloader.calls, []);

        click("startUpdateButton");
        compare(Doubles.downloader.calls, ["downloadFile"]);
        compare(Doubles.midiHandler.calls, []);
        expectFlags(true, false, false, false);
        expectVisible(["versionText", "infoText", "dotAndLabelRow"]);

        Doubles.downloader.downloadingProgressBar(42);
        var bar = el("genericProgressBar");
        compare(bar.visible, true);
        compare(bar.percentage, 42);
        compare(bar.mode, "downloading");
        compare(bar.fileName, "");
        compare(findChild(bar, "progressCaption").text, "Downloading...");
        compare(findChild(bar, "progressText").text, "42%");
        compare(el("versionText").visible, false);

        // Fallback: the message replaces the warning, versionText stays hidden.
        Doubles.downloader.downloadStatus(true, "Retrying with curl");
        compare(el("infoText").text, "Retrying with curl");
        compare(el("infoText").visible, true);
        compare(bar.visible, false);
        compare(el("versionText").text, "Trying a different route now\u2014hang tight...");
        compare(el("versionText").visible, false);
        compare(el("closeApplicationButton").visible, false);

        Doubles.mainController.copyingFileProgress(81);
        compare(bar.visible, true);
        compare(bar.mode, "transfer");
        compare(findChild(bar, "progressCaption").text, "Transferring...");
        compare(findChild(bar, "progressText").text, "81%");
        compare(el("versionText").visible, false);

        Doubles.mainController.fileTransferComplete(true);
        compare(el("dotAndLabelRow").visible, false);
        compare(el("versionText").text, "File transfer complete!");
        compare(el("versionText").visible, false);
        compare(el("infoText").text, "File transfer complete! Tovik will now reboot to apply the update. You can now close this application.");
        compare(el("closeApplicationButton").visible, true);
        compare(bar.visible, false);
        compare(win.inReenumeration, true);

        // Later connection reports only change connected.
        Doubles.midiHandler.deviceFound(false);
        compare(el("logoContainer").connected, true);
        Doubles.midiHandler.deviceFound(true);
        compare(el("logoContainer").connected, true);
        compare(el("dotAndLabelRow").visible, false);
        compare(el("updateButton").visible, false);
        Doubles.midiHandler.deviceReenumerationFinished(true);
        Doubles.midiHandler.updateTransferDone();
        expectVisible(["infoText", "closeApplicationButton"]);
        compare(Doubles.downloader.calls, ["downloadFile"]);
    }

    function test_copyFailure() {
        enterState("copying");
        Doubles.mainController.fileTransferComplete(false);
        compare(win.inReenumeration, false);
        compare(el("versionText").text, "File transfer failed!");
        compare(el("infoText").text, "Something went wrong during the file transfer. Please try again or contact support.");
        compare(el("closeApplicationButton").visible, true);
        compare(el("genericProgressBar").visible, false);
        compare(el("dotAndLabelRow").visible, true);
        Doubles.midiHandler.deviceFound(false);
        expectIndicator("red", "Tovik is not connected", false);
    }

    function test_downloadStatus_data() {
        return [
            { tag: "fallback under way", success: true, message: "DW: primary route failed",
              version: "Trying a different route now\u2014hang tight...", exit: false },
            { tag: "fallback failed", success: false,
              message: "curl: (6) Could not resolve host: releases.example",
              version: "Download failed!", exit: true },
            { tag: "empty message", success: false, message: "", version: "Download failed!",
              exit: true }
        ];
    }

    function test_downloadStatus(data) {
        enterState("updating");
        Doubles.downloader.downloadStatus(data.success, data.message);
        compare(el("infoText").visible, true);
        compare(el("infoText").text, data.message);
        compare(el("versionText").text, data.version);
        compare(el("versionText").visible, false);
        compare(el("genericProgressBar").visible, false);
        compare(el("closeApplicationButton").visible, data.exit);
        // The next progress value brings the bar back; no retry button appears.
        Doubles.downloader.downloadingProgressBar(10);
        compare(el("genericProgressBar").visible, true);
        compare(el("startUpdateButton").visible, false);
    }

    function test_emDash() {
        enterState("updating");
        Doubles.downloader.downloadStatus(true, "x");
        var text = el("versionText").text;
        compare(text.length, 42);
        compare(text.charCodeAt(28), 0x2014);
        compare(text.substring(0, 28), "Trying a different route now");
        compare(text.substring(29), "hang tight...");
    }

    function test_markupShownLiterally_data() {
        return [
            { tag: "bold and image", message: "<b>Error</b> <img src=\"qrc:/icons/icons/iosicon.png\"> <a href=\"http://evil.example\">click</a>" },
            { tag: "html document", message: "<html><body><h1>502 Bad Gateway</h1></body></html>" },
            { tag: "entity", message: "curl: &lt;3 &amp; <i>done</i>" }
        ];
    }

    function test_markupShownLiterally(data) {
        enterState("updating");
        Doubles.downloader.downloadStatus(false, data.message);
        var info = el("infoText");
        compare(info.text, data.message);
        compare(info.textFormat, Text.PlainText);
        // Laid out like the same text as plain text, unlike the same text as markup.
        plainReference.font = info.font;
        plainReference.width = info.width;
        plainReference.wrapMode = info.wrapMode;
        plainReference.text = data.message;
        styledReference.font = info.font;
        styledReference.width = info.width;
        styledReference.wrapMode = info.wrapMode;
        styledReference.text = data.message;
        compare(info.lineCount, plainReference.lineCount);
        compare(info.contentWidth, plainReference.contentWidth);
        compare(info.contentHeight, plainReference.contentHeight);
        verify(styledReference.contentWidth !== plainReference.contentWidth
               || styledReference.lineCount !== plainReference.lineCount,
               "reference check cannot tell markup from plain text");

        // A version string from the catalogue is shown the same way.
        Doubles.downloader.latestVersionFetched("<b>9.9</b>");
        compare(el("versionText").textFormat, Text.PlainText);
        compare(el("versionText").text, "The latest available version is Tvx<b>9.9</b>");
    }

    function test_progressClamp_data() {
        return [
            { tag: "download 150", source: "download", value: 150, shown: 100 },
            { tag: "download -5", source: "download", value: -5, shown: 0 },
            { tag: "download 0", source: "download", value: 0, shown: 0 },
            { tag: "download 42", source: "download", value: 42, shown: 42 },
            { tag: "download 100", source: "download", value: 100, shown: 100 },
            { tag: "download huge", source: "download", value: 9007199254740991, shown: 100 },
            { tag: "copy 150", source: "copy", value: 150, shown: 100 },
            { tag: "copy -1", source: "copy", value: -1, shown: 0 },
            { tag: "copy 81", source: "copy", value: 81, shown: 81 },
            { tag: "copy 100", source: "copy", value: 100, shown: 100 }
        ];
    }

    function test_progressClamp(data) {
        enterState("updating");
        if (data.source === "download")
            Doubles.downloader.downloadingProgressBar(data.value);
        else
            Doubles.mainController.copyingFileProgress(data.value);
        var bar = el("genericProgressBar");
        compare(bar.percentage, data.shown);
        compare(findChild(bar, "progressText").text, data.shown + "%");
        var track = findChild(bar, "progressTrack");
        fuzzyCompare(findChild(bar, "progressFill").width, track.width * data.shown / 100, 0.01);
        compare(bar.mode, data.source === "download" ? "downloading" : "transfer");
    }

    function test_versionCheck() {
        Doubles.midiHandler.deviceFound(true);
        Doubles.downloader.versionCheck(false);
        compare(win.update_available, true);
        compare(el("versionText").text, "Looking for the latest version or Tvx...");
        compare(el("infoText").text, updateWarning);

        Doubles.downloader.versionCheck(true);
        compare(win.update_available, false);
        compare(el("versionText").text, "The latest version is already installed!");
        compare(el("infoText").text, "The latest version is already installed! You can now close this application.");
        click("updateButton");
        expectVisible(["versionText", "infoText", "closeApplicationButton", "dotAndLabelRow"]);
        compare(win.inUpdateFlow, true);
    }

    function test_updatePromptTexts_data() {
        return [
            { tag: "no catalogue", prepare: "none",
              text: "Looking for the latest version or Tvx..." },
            { tag: "catalogue", prepare: "catalogue",
              text: "The latest available version is Tvx2.0.1" },
            { tag: "after transfer without catalogue", prepare: "transfer",
              text: "The latest available version is Tvx" }
        ];
    }

    function test_updatePromptTexts(data) {
        Doubles.midiHandler.deviceFound(true);
        Doubles.midiHandler.tovikReceivedVersion("1.5.0");
        if (data.prepare === "catalogue")
            Doubles.downloader.latestVersionFetched("2.0.1");
        if (data.prepare === "transfer") {
            click("transferButton");
            Doubles.midiHandler.transferSysExReceived();
            click("completeTransferButton");
            Doubles.midiHandler.transferSysExEndReceived();
        }
        click("updateButton");
        compare(el("versionText").visible, true);
        compare(el("versionText").text, data.text);
        compare(el("infoText").visible, true);
    }

    function test_transferFlow() {
        enterState("home");
        click("transferButton");
        compare(Doubles.midiHandler.calls, ["sendTransferSysEx"]);
        compare(win.inReenumeration, true);
        compare(win.inTransferFlow, false);
        compare(el("versionText").text, "Connecting to Tovik");
        compare(el("versionText").visible, true);

        Doubles.midiHandler.transferSysExReceived();
        compare(el("versionText").visible, false);
        compare(el("versionText").text, "The latest available version is Tvx1.6.0");
        compare(win._loadingDots, 0);
        compare(findChild(win, "loadingTimer").running, false);
        expectFlags(false, false, false, true);

        // While the confirmation is pending nothing but the instrument can end the wait.
        Doubles.midiHandler.deviceFound(true);
        expectVisible(["openProjectsButton", "openDefinitionsButton", "openMidiFilesButton",
                       "openGroovesButton", "transferInfoText", "completeTransferButton",
                       "dotAndLabelRow"]);

        click("openProjectsButton");
        click("openDefinitionsButton");
        click("openMidiFilesButton");
        click("openGroovesButton");
        click("openProjectsButton");
        compare(Doubles.fileManagerBridge.calls, ["openProjects", "openInstrumentDefinitions",
                                                  "openMidiFiles", "openGrooves", "openProjects"]);
        expectFlags(false, false, false, true);

        click("completeTransferButton");
        compare(Doubles.fileManagerBridge.callCount("completeTransfer"), 1);
        expectVisible(["versionText", "dotAndLabelRow"]);
        compare(el("versionText").text, "Finalizing Transfer");
        expectFlags(false, false, true, true);

        Doubles.midiHandler.transferSysExEndReceived();
        expectVisible(["updateButton", "transferButton", "dotAndLabelRow"]);
        expectFlags(false, false, false, false);
        compare(el("versionText").text, "The latest available version is Tvx1.6.0");

        // The flow can be repeated.
        click("transferButton");
        compare(Doubles.midiHandler.callCount("sendTransferSysEx"), 2);
        Doubles.midiHandler.transferSysExReceived();
        compare(el("completeTransferButton").visible, true);
    }

    function test_disconnectedTransferMode() {
        enterState("transferMode");
        Doubles.midiHandler.deviceFound(false);
        var text = el("infoConnectText");
        compare(text.visible, true);
        // The folder buttons stay where they are, above the instructions, and take no clicks.
        var children = win.contentItem.children;
        var textIndex = -1;
        for (var i = 0; i < children.length; ++i) {
            if (children[i] === text)
                textIndex = i;
        }
        for (var b = 0; b < folderButtons.length; ++b) {
            var button = el(folderButtons[b]);
            compare(button.visible, true);
            compare(button.enabled, false);
            compare(button.opacity, 0.5);
            var buttonIndex = -1;
            for (var j = 0; j < children.length; ++j) {
                if (children[j] === button)
                    buttonIndex = j;
            }
            verify(buttonIndex > textIndex, folderButtons[b] + " drawn above the instructions");
            mouseClick(button);
        }
        compare(Doubles.fileManagerBridge.calls, []);
        compare(win.inReenumeration, false);

        // Back again: enabled, and DONE works.
        Doubles.midiHandler.deviceFound(true);
        compare(el("infoConnectText").visible, false);
        compare(el("completeTransferButton").enabled, true);
        click("completeTransferButton");
        compare(Doubles.fileManagerBridge.calls, ["completeTransfer"]);
    }

    function test_disabledStartUpdate() {
        enterState("updatePrompt");
        Doubles.midiHandler.deviceFound(false);
        var start = el("startUpdateButton");
        compare(start.visible, true);
        compare(start.enabled, false);
        mouseClick(start);
        compare(Doubles.downloader.calls, []);
        compare(win.update_started, false);
    }

    function test_loadingAnimation_data() {
        return [
            { tag: "entering transfer", state: "enteringTransfer", base: "Connecting to Tovik" },
            { tag: "finalizing", state: "finalizing", base: "Finalizing Transfer" }
        ];
    }

    function test_loadingAnimation(data) {
        enterState(data.state);
        var version = el("versionText");
        compare(version.text, data.base);
        compare(win._loadingBaseText, data.base);
        var timer = findChild(win, "loadingTimer");
        compare(timer.interval, 500);
        compare(timer.repeat, true);
        compare(timer.running, true);

        textSpy.target = version;
        textSpy.clear();
        var expected = [data.base + ".", data.base + "..", data.base + "...", data.base,
                        data.base + "."];
        for (var i = 0; i < expected.length; ++i) {
            textSpy.wait(1500);
            compare(textSpy.signalArguments[i][0], expected[i], "frame " + i);
            compare(version.visible, true);
        }
        // A disconnection during the wait leaves the animation running.
        Doubles.midiHandler.deviceFound(false);
        textSpy.wait(1500);
        compare(textSpy.signalArguments[5][0], data.base + "..");

        // stopLoading: the timer stops and the frames stop with it.
        if (data.state === "enteringTransfer")
            Doubles.midiHandler.transferSysExReceived();
        else
            Doubles.midiHandler.transferSysExEndReceived();
        compare(timer.running, false);
        compare(win._loadingDots, 0);
        textSpy.clear();
        wait(1100);
        compare(textSpy.count, 0);
    }

    function test_layout_data() {
        return [
            { tag: "minimum 360x750", w: 360, h: 750 },
            { tag: "middle 450x900", w: 450, h: 900 },
            { tag: "maximum 540x1080", w: 540, h: 1080 }
        ];
    }

    function expectBelow(name, above, margin) {
        var item = el(name);
        fuzzyCompare(item.y, above.y + above.height + margin, 0.5, name + " top");
    }

    function expectCentred(name) {
        var item = el(name);
        fuzzyCompare(item.x + item.width / 2, win.contentItem.width / 2, 0.5, name + " centre");
    }

    function test_layout(data) {
        win.width = data.w;
        win.height = data.h;
        tryCompare(win.contentItem, "width", data.w);
        tryCompare(win.contentItem, "height", data.h);
        var W = data.w, H = data.h;
        var logo = el("logoContainer");
        var L = W * 0.5;
        fuzzyCompare(logo.y, 0.08 * H, 0.5);
        fuzzyCompare(logo.width, L, 0.01);
        compare(logo.height, logo.width);
        verify(Qt.colorEqual(logo.color, "transparent"));
        compare(el("backgroundImage").width, L);
        compare(el("backgroundImage").sourceSize.width, Math.round(2 * L));
        compare(el("foregroundImage").sourceSize.height, Math.round(2 * L));
        compare(el("backgroundImage").fillMode, Image.PreserveAspectFit);
        compare(el("backgroundImage").layer.enabled, true);

        var row = el("dotAndLabelRow");
        fuzzyCompare(row.y, logo.height + 10, 0.5);
        fuzzyCompare(row.height, 0.18 * L, 0.01);
        verify(row.width <= 0.8 * L + 0.01);
        fuzzyCompare(row.x + row.width / 2, L / 2, 0.5);
        fuzzyCompare(el("connectionIndication").width, 0.055 * L, 0.01);
        compare(el("connectionIndication").radius, 5);
        var label = el("connectionlabel");
        compare(label.font.pixelSize, Math.max(9, Math.round(0.06 * L)));
        compare(label.renderType, Text.NativeRendering);
        fuzzyCompare(el("connectionIndication").y + el("connectionIndication").height / 2,
                     label.y + label.height / 2, 0.5);
        fuzzyCompare(label.x, el("connectionIndication").width + 10, 0.5);

        var names = ["updateButton", "transferButton", "genericProgressBar", "versionText",
                     "infoText", "infoConnectText", "startUpdateButton", "closeApplicationButton",
                     "openProjectsButton", "openDefinitionsButton", "openMidiFilesButton",
                     "openGroovesButton", "transferInfoText", "completeTransferButton"];
        for (var i = 0; i < names.length; ++i) {
            expectCentred(names[i]);
            fuzzyCompare(el(names[i]).width, L, 0.01, names[i] + " width");
        }
        expectCentred("logoContainer");

        expectBelow("updateButton", logo, 0.1 * H);
        expectBelow("transferButton", el("updateButton"), 0.02 * H);
        expectBelow("genericProgressBar", logo, 0.01 * H);
        expectBelow("versionText", logo, 0.02 * H);
        expectBelow("infoText", el("versionText"), 0.1 * H);
        expectBelow("infoConnectText", logo, 0.08 * H);
        expectBelow("startUpdateButton", el("infoText"), 0.2 * H);
        expectBelow("closeApplicationButton", el("infoText"), 0.2 * H);
        expectBelow("openProjectsButton", logo, 0.08 * H);
        expectBelow("openDefinitionsButton", el("openProjectsButton"), 0.01 * H);
        expectBelow("openMidiFilesButton", el("openDefinitionsButton"), 0.01 * H);
        expectBelow("openGroovesButton", el("openMidiFilesButton"), 0.01 * H);
        expectBelow("transferInfoText", el("openGroovesButton"), 0.04 * H);
        expectBelow("completeTransferButton", el("transferInfoText"), 0.02 * H);

        var sizes = [
            ["updateButton", 3, 0.35, 1], ["transferButton", 3, 0.35, 1],
            ["startUpdateButton", 3, 0.25, 1], ["closeApplicationButton", 3, 0.25, 1],
            ["openProjectsButton", 3.2, 0.22, 9], ["openDefinitionsButton", 3.2, 0.22, 9],
            ["openMidiFilesButton", 3.2, 0.22, 9], ["openGroovesButton", 3.2, 0.22, 9],
            ["completeTransferButton", 3.2, 0.22, 10], ["versionText", 2, 0.15, 1],
            ["infoText", 4, 0.21, 1]
        ];
        for (var s = 0; s < sizes.length; ++s) {
            var item = el(sizes[s][0]);
            fuzzyCompare(item.height, L / sizes[s][1], 0.01, sizes[s][0] + " height");
            fuzzyCompare(item.font.pixelSize, Math.max(item.height * sizes[s][2], sizes[s][3]), 1,
                         sizes[s][0] + " text size");
            compare(item.font.bold, true);
        }
        fuzzyCompare(el("infoConnectText").font.pixelSize, Math.max(0.038 * L, 11), 1);
        fuzzyCompare(el("transferInfoText").font.pixelSize, Math.max(0.04 * L, 12), 1);
        compare(el("transferInfoText").font.bold, false);
        compare(el("genericProgressBar").height, 120);

        // versionText moves below the progress bar while that is shown.
        enterState("updating");
        el("versionText").visible = true;
        expectBelow("versionText", el("genericProgressBar"), 0.02 * H);
        Doubles.downloader.downloadStatus(true, "again");
        expectBelow("versionText", logo, 0.02 * H);
    }

    function test_fontsAndColours() {
        var texts = ["versionText", "infoText", "infoConnectText", "transferInfoText",
                     "connectionlabel"];
        for (var i = 0; i < texts.length; ++i) {
            compare(el(texts[i]).font.family, "Poppins", texts[i]);
            verify(Qt.colorEqual(el(texts[i]).color, "white"), texts[i]);
        }
        compare(el("versionText").horizontalAlignment, Text.AlignHCenter);
        compare(el("versionText").verticalAlignment, Text.AlignVCenter);
        compare(el("infoText").horizontalAlignment, Text.AlignHCenter);
        compare(el("infoText").verticalAlignment, Text.AlignVCenter);
        compare(el("infoText").wrapMode, Text.WordWrap);
        compare(el("infoConnectText").wrapMode, Text.WordWrap);
        compare(el("transferInfoText").wrapMode, Text.WordWrap);
    }
}
