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
    readonly property var transferShown: folderButtons.concat(["transferInfoText",
                                                                "dotAndLabelRow"])

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
        verify(el(name).visible, name + " is not visible");
        mouseClick(el(name));
    }

    function expectVisible(shown) {
        for (var i = 0; i < allElements.length; ++i)
            compare(el(allElements[i]).visible, shown.indexOf(allElements[i]) >= 0,
                    allElements[i] + " visibility");
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

    // [update_started, inUpdateFlow, inReenumeration, inTransferFlow]
    function expectFlags(flags) {
        compare([win.update_started, win.inUpdateFlow, win.inReenumeration, win.inTransferFlow],
                flags, "flags");
    }

    // Brings a fresh window into one of the states of the flow: a step is a click or a signal.
    function enterState(state) {
        var m = Doubles.midiHandler, d = Doubles.downloader, c = Doubles.mainController;
        var home = [function() {
            m.deviceFound(true);
            m.tovikReceivedVersion("1.5.2");
            d.latestVersionFetched("1.6.0");
        }];
        var updating = home.concat(["updateButton", "startUpdateButton",
                                    function() { d.downloadingProgressBar(42); }]);
        var copying = updating.concat([function() { c.copyingFileProgress(81); }]);
        var transferMode = home.concat(["transferButton",
                                        function() { m.transferSysExReceived(); }]);
        var finalizing = transferMode.concat(["completeTransferButton"]);
        var paths = {
            searching: [], home: home, updatePrompt: home.concat(["updateButton"]),
            updating: updating, copying: copying,
            updateFinished: copying.concat([function() { c.fileTransferComplete(true); }]),
            updateFailed: copying.concat([function() { c.fileTransferComplete(false); }]),
            enteringTransfer: home.concat(["transferButton"]), transferMode: transferMode,
            finalizing: finalizing,
            backHome: finalizing.concat([function() { m.transferSysExEndReceived(); }])
        };
        verify(paths[state] !== undefined, "unknown state " + state);
        for (var i = 0; i < paths[state].length; ++i) {
            if (typeof paths[state][i] === "string")
                click(paths[state][i]);
            else
                paths[state][i]();
        }
    }

    // The window, its images and fixed texts; visibility at start is the "searching" state.
    function test_initialWindow() {
        compare([win.visible, win.width, win.height, win.minimumWidth, win.minimumHeight,
                 win.maximumWidth, win.maximumHeight, win.title],
                [true, 360, 750, 360, 750, 540, 1080, ""]);
        verify(Qt.colorEqual(win.color, "black"));
        compare(el("logoContainer").visible, true);
        compare(el("backgroundImage").source, "qrc:/icons/icons/logo_middle.png");
        compare(el("backgroundImage").status, Image.Ready);
        compare(el("foregroundImage").source, "qrc:/icons/icons/logo_circle.png");
        compare(el("foregroundImage").status, Image.Ready);
        compare([win.update_available, win.latestVersion, win.deviceVersion], [true, "", ""]);
        compare(el("versionText").text, "Looking for the latest version or Tvx...");
        compare(el("infoText").text, updateWarning);
        compare(el("infoConnectText").text, connectInstructions);
        compare(el("transferInfoText").text, transferExplanation);
    }

    function test_styles_data() {
        return [
            { tag: "updateButton", text: "Update" },
            { tag: "transferButton", text: "Transfer" },
            { tag: "startUpdateButton", text: "Start Update" },
            { tag: "closeApplicationButton", text: "EXIT" },
            { tag: "openProjectsButton", text: "Open Projects", wrap: true },
            { tag: "openDefinitionsButton", text: "Open Instruments", wrap: true },
            { tag: "openMidiFilesButton", text: "Open MIDI Files", wrap: true },
            { tag: "openGroovesButton", text: "Open Grooves", wrap: true },
            { tag: "completeTransferButton", text: "DONE", wrap: true },
            { tag: "versionText", centred: true },
            { tag: "infoText", centred: true, wrap: true },
            { tag: "infoConnectText", wrap: true },
            { tag: "transferInfoText", wrap: true },
            { tag: "connectionlabel" }
        ];
    }

    function test_styles(data) {
        var item = el(data.tag);
        compare(item.font.family, "Poppins");
        var label = item;
        if (data.text !== undefined) {
            compare(item.text, data.text);
            compare(item.font.bold, true);
            verify(Qt.colorEqual(item.background.border.color, "white"));
            // The folder buttons and DONE draw their own white, wrapping label.
            label = data.wrap ? item.contentItem : null;
            if (label)
                compare(label.text, data.text);
        }
        if (label)
            verify(Qt.colorEqual(label.color, "white"));
        if (data.wrap)
            compare(label.wrapMode, Text.WordWrap);
        if (data.centred)
            compare([item.horizontalAlignment, item.verticalAlignment],
                    [Text.AlignHCenter, Text.AlignVCenter]);
    }

    function test_compareVersions_data() {
        return [["1.10.0", "1.5.0", 1], ["1.5", "1.5.0", 0], ["1.5.0", "1.5", 0],
                ["1.4.9", "1.5.0", -1], ["1.5.0-beta", "1.5.0", 0], ["2.0", "10.0", -1],
                ["1.5.0.1", "1.5.0", 1], [" 2.0", "1.9", 1], ["x.9", "1.0", 1],
                ["1.beta", "1.7", 0], ["", "1.5.0", -1]].map(function(r) {
            return { tag: "'" + r[0] + "' vs '" + r[1] + "'", a: r[0], b: r[1], result: r[2] };
        });
    }

    function test_compareVersions(data) {
        compare(win.compareVersions(data.a, data.b), data.result);
    }

    // State table: what each state shows, and what a disconnection there changes.
    function test_states_data() {
        var home = ["updateButton", "transferButton", "dotAndLabelRow"];
        var searching = ["infoConnectText", "dotAndLabelRow"];
        var prompt = ["versionText", "infoText", "startUpdateButton", "dotAndLabelRow"];
        var updating = ["genericProgressBar", "infoText", "dotAndLabelRow"];
        var failed = ["infoText", "closeApplicationButton", "dotAndLabelRow"];
        var waiting = ["versionText", "dotAndLabelRow"];
        var none = [false, false, false, false];
        return [
            { tag: "searching", shown: searching, flags: none,
              lostShown: searching, lostColor: "red" },
            { tag: "home", shown: home, flags: none, lostShown: searching, lostColor: "red" },
            { tag: "updatePrompt", shown: prompt, flags: [false, true, false, false],
              lostShown: prompt.concat(["infoConnectText"]), lostColor: "red" },
            { tag: "updating", shown: updating, flags: [true, false, false, false],
              lostShown: updating.concat(["infoConnectText"]), lostColor: "red" },
            { tag: "updateFinished", shown: ["infoText", "closeApplicationButton"],
              flags: [true, false, true, false],
              lostShown: ["infoText", "closeApplicationButton"], lostColor: "green" },
            { tag: "updateFailed", shown: failed, flags: [true, false, false, false],
              lostShown: failed.concat(["infoConnectText"]), lostColor: "red" },
            { tag: "enteringTransfer", shown: waiting, flags: [false, false, true, false],
              lostShown: waiting, lostColor: "green" },
            { tag: "transferMode", shown: transferShown, flags: [false, false, false, true],
              lostShown: transferShown.concat(["infoConnectText"]), lostColor: "red" },
            { tag: "finalizing", shown: waiting, flags: [false, false, true, true],
              lostShown: waiting, lostColor: "green" },
            { tag: "backHome", shown: home, flags: none, lostShown: searching, lostColor: "red" }
        ];
    }

    function test_states(data) {
        enterState(data.tag);
        var searching = data.tag === "searching";
        var label = searching ? "Looking for Tovik" : "Tovik is connected";
        expectVisible(data.shown);
        expectIndicator(searching ? "orange" : "green", label, !searching);
        expectFlags(data.flags);

        var textBefore = el("versionText").text;
        Doubles.midiHandler.deviceFound(false);
        expectVisible(data.lostShown);
        var lost = data.lostColor === "red";
        expectIndicator(data.lostColor, lost ? "Tovik is not connected" : label,
                        lost ? false : !searching);
        expectFlags(data.flags);
        if (!lost && findChild(win, "loadingTimer").running)
            compare(el("versionText").text.indexOf(win._loadingBaseText), 0, "animation kept");
        if (data.tag === "updateFinished")
            compare(el("versionText").text, textBefore);

        // Buttons that act on the instrument follow connected, shown or not.
        var dependent = folderButtons.concat(["startUpdateButton"]);
        for (var i = 0; i < dependent.length; ++i) {
            var connected = el("logoContainer").connected;
            compare(el(dependent[i]).enabled, connected, dependent[i] + " enabled");
            compare(el(dependent[i]).opacity, connected ? 1 : 0.5, dependent[i] + " opacity");
        }
    }

    // The version reply decides Transfer (1.5.0 or newer) only while no flow is active; after
    // Start Update no flow flag is set, so the rule applies again.
    function test_transferRule_data() {
        return [["connected", "1.4.9", false], ["connected", "1.5.0", true],
                ["connected", "1.5", true], ["connected", "1.10.0", true],
                ["connected", "1.5.0-beta", true], ["connected", "0.9", false],
                ["connected", "2", true], ["updatePrompt", "1.7.0", false],
                ["enteringTransfer", "1.7.0", false], ["transferMode", "1.7.0", false],
                ["finalizing", "1.7.0", false], ["updateFinished", "1.7.0", false],
                ["updating", "1.7.0", true], ["updateFailed", "1.7.0", true]].map(function(r) {
            return { tag: r[0] + " " + r[1], state: r[0], version: r[1], transfer: r[2] };
        });
    }

    function test_transferRule(data) {
        var home = data.state === "connected";
        if (home) {
            // No version yet: Update only.
            Doubles.midiHandler.deviceFound(true);
            compare([el("updateButton").visible, el("transferButton").visible], [true, false]);
        } else {
            enterState(data.state);
        }
        Doubles.midiHandler.tovikReceivedVersion(data.version);
        compare(win.deviceVersion, data.version);
        compare(el("transferButton").visible, data.transfer);
        // The next presence report keeps to the same rule.
        if (home) {
            Doubles.midiHandler.deviceFound(true);
            compare([el("updateButton").visible, el("transferButton").visible],
                    [true, data.transfer]);
        }
    }

    function test_presenceDuringUpdateChangesNothing() {
        enterState("updating");
        Doubles.midiHandler.deviceFound(false);
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
        expectVisible(["versionText", "infoText", "startUpdateButton", "dotAndLabelRow"]);
    }

    function test_updateFlow() {
        Doubles.midiHandler.deviceFound(true);
        Doubles.downloader.latestVersionFetched("1.6.0");
        Doubles.downloader.latestVersionFetched("1.6.1");
        compare(win.latestVersion, "1.6.1");
        compare(el("versionText").text, "The latest available version is Tvx1.6.1");
        click("updateButton");
        compare(Doubles.downloader.calls, []);
        click("startUpdateButton");
        compare(Doubles.downloader.calls, ["downloadFile"]);
        compare(Doubles.midiHandler.calls, []);
        expectVisible(["versionText", "infoText", "dotAndLabelRow"]);

        var bar = el("genericProgressBar");
        Doubles.downloader.downloadingProgressBar(42);
        compare([bar.visible, bar.mode, bar.fileName, el("versionText").visible],
                [true, "downloading", "", false]);
        Doubles.mainController.copyingFileProgress(81);
        compare([bar.visible, bar.mode], [true, "transfer"]);

        // After the copy, later reports from the instrument change nothing that shows.
        Doubles.mainController.fileTransferComplete(true);
        Doubles.midiHandler.deviceFound(true);
        Doubles.midiHandler.deviceReenumerationFinished(true);
        Doubles.midiHandler.updateTransferDone();
        expectVisible(["infoText", "closeApplicationButton"]);
        compare(Doubles.downloader.calls, ["downloadFile"]);
    }

    function test_copyResult_data() {
        return [
            { tag: "complete", success: true, version: "File transfer complete!",
              info: "File transfer complete! Tovik will now reboot to apply the update. You can now close this application." },
            { tag: "failed", success: false, version: "File transfer failed!",
              info: "Something went wrong during the file transfer. Please try again or contact support." }
        ];
    }

    function test_copyResult(data) {
        enterState("copying");
        Doubles.mainController.fileTransferComplete(data.success);
        compare(win.inReenumeration, data.success);
        compare(el("versionText").text, data.version);
        compare(el("infoText").text, data.info);
    }

    function test_downloadStatus_data() {
        return [
            { tag: "fallback under way, em dash", success: true,
              message: "DW: primary route failed",
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
        compare(el("infoText").text, data.message);
        compare(el("versionText").text, data.version);
        expectVisible(["infoText", "dotAndLabelRow"].concat(
                          data.exit ? ["closeApplicationButton"] : []));
        // The next progress value brings the bar back; no retry button appears.
        Doubles.downloader.downloadingProgressBar(10);
        compare([el("genericProgressBar").visible, el("startUpdateButton").visible], [true, false]);
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
        var refs = [plainReference, styledReference];
        for (var i = 0; i < refs.length; ++i) {
            refs[i].font = info.font;
            refs[i].width = info.width;
            refs[i].wrapMode = info.wrapMode;
            refs[i].text = data.message;
        }
        compare([info.lineCount, info.contentWidth, info.contentHeight],
                [plainReference.lineCount, plainReference.contentWidth,
                 plainReference.contentHeight]);
        verify(styledReference.contentWidth !== plainReference.contentWidth
               || styledReference.lineCount !== plainReference.lineCount,
               "reference check cannot tell markup from plain text");

        // A version string from the catalogue is shown the same way.
        Doubles.downloader.latestVersionFetched("<b>9.9</b>");
        compare(el("versionText").textFormat, Text.PlainText);
        compare(el("versionText").text, "The latest available version is Tvx<b>9.9</b>");
    }

    function test_progressClamp_data() {
        return [["download", 150, 100], ["download", -5, 0], ["download", 42, 42],
                ["download", 100, 100], ["download", 9007199254740991, 100], ["copy", 150, 100],
                ["copy", -1, 0], ["copy", 0, 0], ["copy", 81, 81]].map(function(r) {
            return { tag: r[0] + " " + r[1], source: r[0], value: r[1], shown: r[2] };
        });
    }

    function test_progressClamp(data) {
        enterState("updating");
        if (data.source === "download")
            Doubles.downloader.downloadingProgressBar(data.value);
        else
            Doubles.mainController.copyingFileProgress(data.value);
        var bar = el("genericProgressBar");
        // What the bar draws for a percentage is the bar's own test.
        compare(bar.percentage, data.shown);
        compare(bar.mode, data.source === "download" ? "downloading" : "transfer");
    }

    // What Update leads to, after the catalogue, the version check or a transfer.
    function test_updatePrompt_data() {
        var installed = "The latest version is already installed!";
        var looking = "Looking for the latest version or Tvx...";
        return [
            { tag: "no catalogue", text: looking },
            { tag: "catalogue", catalogue: "2.0.1",
              text: "The latest available version is Tvx2.0.1" },
            { tag: "update available", check: false, text: looking },
            { tag: "latest installed", check: true, text: installed,
              info: installed + " You can now close this application." },
            { tag: "after transfer without catalogue", transfer: true,
              text: "The latest available version is Tvx" }
        ];
    }

    function test_updatePrompt(data) {
        Doubles.midiHandler.deviceFound(true);
        Doubles.midiHandler.tovikReceivedVersion("1.5.0");
        if (data.catalogue)
            Doubles.downloader.latestVersionFetched(data.catalogue);
        if (data.check !== undefined)
            Doubles.downloader.versionCheck(data.check);
        if (data.transfer) {
            click("transferButton");
            Doubles.midiHandler.transferSysExReceived();
            click("completeTransferButton");
            Doubles.midiHandler.transferSysExEndReceived();
        }
        compare(win.update_available, data.check !== true);
        click("updateButton");
        compare(win.inUpdateFlow, true);
        expectVisible(["versionText", "infoText", "dotAndLabelRow", data.check
                       ? "closeApplicationButton" : "startUpdateButton"]);
        compare(el("versionText").text, data.text);
        compare(el("infoText").text, data.info ? data.info : updateWarning);
    }

    // Calls and texts along the transfer flow; what each step shows is in the state table.
    function test_transferFlow() {
        enterState("home");
        click("transferButton");
        compare(Doubles.midiHandler.calls, ["sendTransferSysEx"]);
        compare(el("versionText").text, "Connecting to Tovik");
        Doubles.midiHandler.transferSysExReceived();
        compare(el("versionText").text, "The latest available version is Tvx1.6.0");
        // A presence report in transfer mode changes nothing.
        Doubles.midiHandler.deviceFound(true);
        expectVisible(transferShown);

        var order = ["openProjectsButton", "openDefinitionsButton", "openMidiFilesButton",
                     "openGroovesButton", "openProjectsButton"];
        for (var i = 0; i < order.length; ++i)
            click(order[i]);
        compare(Doubles.fileManagerBridge.calls, ["openProjects", "openInstrumentDefinitions",
                                                  "openMidiFiles", "openGrooves", "openProjects"]);
        click("completeTransferButton");
        compare(Doubles.fileManagerBridge.callCount("completeTransfer"), 1);
        compare(el("versionText").text, "Finalizing Transfer");
        Doubles.midiHandler.transferSysExEndReceived();
        compare(el("versionText").text, "The latest available version is Tvx1.6.0");

        // The flow can be repeated.
        click("transferButton");
        compare(Doubles.midiHandler.callCount("sendTransferSysEx"), 2);
        Doubles.midiHandler.transferSysExReceived();
        compare(el("completeTransferButton").visible, true);
    }

    function indexIn(list, item) {
        for (var i = 0; i < list.length; ++i) {
            if (list[i] === item)
                return i;
        }
        return -1;
    }

    // While the instrument is gone its buttons stay, above the instructions, and take no clicks.
    function test_disconnectedClicks_data() {
        return [
            { tag: "transfer mode", state: "transferMode", buttons: folderButtons,
              target: "fileManagerBridge", button: "completeTransferButton",
              call: "completeTransfer" },
            { tag: "update prompt", state: "updatePrompt", buttons: ["startUpdateButton"],
              target: "downloader", button: "startUpdateButton", call: "downloadFile" }
        ];
    }

    function test_disconnectedClicks(data) {
        enterState(data.state);
        Doubles.midiHandler.deviceFound(false);
        var children = win.contentItem.children;
        var textIndex = indexIn(children, el("infoConnectText"));
        verify(textIndex >= 0);
        for (var i = 0; i < data.buttons.length; ++i) {
            var button = el(data.buttons[i]);
            compare([button.visible, button.enabled], [true, false], data.buttons[i]);
            verify(indexIn(children, button) > textIndex,
                   data.buttons[i] + " drawn above the instructions");
            mouseClick(button);
        }
        compare(Doubles[data.target].calls, []);
        compare([win.update_started, win.inReenumeration], [false, false]);

        // Back again: enabled, and the button works.
        Doubles.midiHandler.deviceFound(true);
        compare(el("infoConnectText").visible, false);
        click(data.button);
        compare(Doubles[data.target].calls, [data.call]);
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
        var timer = findChild(win, "loadingTimer");
        compare([timer.interval, timer.running], [500, true]);

        textSpy.target = version;
        textSpy.clear();
        var expected = [data.base + ".", data.base + "..", data.base + "...", data.base,
                        data.base + ".", data.base + ".."];
        for (var i = 0; i < expected.length; ++i) {
            // A disconnection during the wait leaves the animation running.
            if (i === 5)
                Doubles.midiHandler.deviceFound(false);
            textSpy.wait(1500);
            compare(textSpy.signalArguments[i][0], expected[i], "frame " + i);
            compare(version.visible, true);
        }

        // stopLoading: the timer stops and the frames stop with it.
        if (data.state === "enteringTransfer")
            Doubles.midiHandler.transferSysExReceived();
        else
            Doubles.midiHandler.transferSysExEndReceived();
        compare([timer.running, win._loadingDots], [false, 0]);
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

    // Each [name, element above, margin as a share of the window height].
    readonly property var stacking: [
        ["updateButton", "logoContainer", 0.1], ["transferButton", "updateButton", 0.02],
        ["genericProgressBar", "logoContainer", 0.01], ["versionText", "logoContainer", 0.02],
        ["infoText", "versionText", 0.1], ["infoConnectText", "logoContainer", 0.08],
        ["startUpdateButton", "infoText", 0.2], ["closeApplicationButton", "infoText", 0.2],
        ["openProjectsButton", "logoContainer", 0.08],
        ["openDefinitionsButton", "openProjectsButton", 0.01],
        ["openMidiFilesButton", "openDefinitionsButton", 0.01],
        ["openGroovesButton", "openMidiFilesButton", 0.01],
        ["transferInfoText", "openGroovesButton", 0.04],
        ["completeTransferButton", "transferInfoText", 0.02]]
    function expectBelow(name, above, margin) {
        fuzzyCompare(el(name).y, el(above).y + el(above).height + margin, 0.5, name + " top");
    }

    function test_layout(data) {
        win.width = data.w;
        win.height = data.h;
        tryCompare(win.contentItem, "width", data.w);
        tryCompare(win.contentItem, "height", data.h);
        var H = data.h;
        var L = data.w * 0.5;
        var logo = el("logoContainer");
        fuzzyCompare(logo.y, 0.08 * H, 0.5);
        compare(logo.height, logo.width);
        // The logo is drawn sharp at twice its size.
        compare([el("backgroundImage").width, el("backgroundImage").sourceSize.width,
                 el("foregroundImage").sourceSize.height],
                [L, Math.round(2 * L), Math.round(2 * L)]);

        var row = el("dotAndLabelRow");
        var dot = el("connectionIndication");
        var label = el("connectionlabel");
        fuzzyCompare(row.y, logo.height + 10, 0.5);
        fuzzyCompare(row.height, 0.18 * L, 0.01);
        verify(row.width <= 0.8 * L + 0.01);
        fuzzyCompare(row.x + row.width / 2, L / 2, 0.5);
        fuzzyCompare(dot.width, 0.055 * L, 0.01);
        compare(label.font.pixelSize, Math.max(9, Math.round(0.06 * L)));
        fuzzyCompare(dot.y + dot.height / 2, label.y + label.height / 2, 0.5);
        fuzzyCompare(label.x, dot.width + 10, 0.5);

        // Everything but the dot row (inside the logo) is a centred column of the logo's width.
        var column = allElements.slice(0, -1).concat(["logoContainer"]);
        for (var i = 0; i < column.length; ++i) {
            var item = el(column[i]);
            fuzzyCompare(item.width, L, 0.01, column[i] + " width");
            fuzzyCompare(item.x + item.width / 2, data.w / 2, 0.5, column[i] + " centre");
        }
        for (var b = 0; b < stacking.length; ++b)
            expectBelow(stacking[b][0], stacking[b][1], stacking[b][2] * H);
        compare(el("genericProgressBar").height, 120);

        // versionText moves below the progress bar while that is shown.
        enterState("updating");
        el("versionText").visible = true;
        expectBelow("versionText", "genericProgressBar", 0.02 * H);
        Doubles.downloader.downloadStatus(true, "again");
        expectBelow("versionText", "logoContainer", 0.02 * H);
    }
}
