import QtQuick 2.15
import QtQuick.Controls 2.15
import QtTest 1.15

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

    SignalSpy {
        id: textSpy
        signalName: "textChanged"
    }

    function initTestCase() {
        component = Qt.createComponent("qrc:/Tovik_App/main.qml");
        compare(component.status, Component.Ready, component.errorString());
    }

    function init() {
        // The window must run without a single QML warning.
        failOnWarning(/.*/);
        win = component.createObject(null);
        verify(win !== null, "main.qml did not create its window");
        win.requestActivate();
        tryVerify(function() { return win.active; });
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
        verify(Qt.colorEqual(el("connectionIndication").color, color), "dot is not " + color);
        compare([el("connectionlabel").text, logo.connected], [label, connected]);
    }

    // [update_started, inUpdateFlow, inReenumeration, inTransferFlow]
    function expectFlags(flags) {
        compare([win.update_started, win.inUpdateFlow, win.inReenumeration, win.inTransferFlow],
                flags, "flags");
    }

    // A screen reader's view: the shown elements and nothing else, each with its role, its text
    // (without the animation's dots) as name and its state; the focus on the given one.
    function expectAccessible(shown, focus) {
        var names = ["backgroundImage"].concat(shown.indexOf("dotAndLabelRow") >= 0
                ? ["connectionlabel"] : [], allElements.filter(function(n) {
            return n !== "dotAndLabelRow" && shown.indexOf(n) >= 0; }));
        compare(Accessibility.shown(win), names);
        for (var i = 0; i < names.length; ++i) {
            var item = el(names[i]), node = Accessibility.describe(item);
            var bar = names[i] === "genericProgressBar";
            var text = bar ? findChild(item, "progressCaption").text
                           : item.text === undefined ? "Tovik logo" : item.text;
            var role = bar ? Accessible.ProgressBar : typeof item.clicked === "function"
                    ? Accessible.Button : item.text === undefined ? Accessible.Graphic
                                                                   : Accessible.StaticText;
            compare([node.role, node.name.replace(/\.+$/, ""), node.disabled],
                    [role, text.replace(/\.+$/, ""), !item.enabled], names[i]);
            if (bar)
                compare([node.value, node.range], [item.percentage, [0, 100]]);
        }
        compare(win.activeFocusItem, el(focus), "focus");
        verify(Accessibility.describe(el(focus)).focused);
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
            updateConfirmed: copying.concat([function() { c.fileTransferComplete(true); },
                                             function() { d.updateConfirmed(true, "1.6.0"); }]),
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

    function test_initialWindow() {
        compare(el("backgroundImage").status, Image.Ready);
        compare(el("foregroundImage").status, Image.Ready);
        compare(el("versionText").text, "Looking for the latest version or Tvx...");
        verify(Accessibility.describe(win).name !== "", "the window has no accessible name");
    }

    function test_compareVersions_data() {
        return [["1.10.0", "1.5.0", 1], ["1.5", "1.5.0", 0], ["1.4.9", "1.5.0", -1],
                ["1.5.0-beta", "1.5.0", 0], ["2.0", "10.0", -1], ["x.9", "1.0", 1],
                ["", "1.5.0", -1]].map(function(r) {
            return { tag: "'" + r[0] + "' vs '" + r[1] + "'", a: r[0], b: r[1], result: r[2] };
        });
    }

    function test_compareVersions(data) {
        compare(win.compareVersions(data.a, data.b), data.result);
    }

    // State table: what each state shows, what a disconnection there changes, and that the
    // instrument found again shows the state as it was (Home after Searching).
    function test_states_data() {
        var home = ["updateButton", "transferButton", "dotAndLabelRow"];
        var searching = ["infoConnectText", "dotAndLabelRow"];
        var prompt = ["versionText", "infoText", "startUpdateButton", "dotAndLabelRow"];
        var updating = ["genericProgressBar", "infoText", "dotAndLabelRow"];
        var failed = ["infoText", "closeApplicationButton", "dotAndLabelRow"];
        var waiting = ["versionText", "dotAndLabelRow"];
        var none = [false, false, false, false];
        return [
            { tag: "searching", focus: "connectionlabel", shown: searching, flags: none,
              lostShown: searching, lostColor: "red" },
            { tag: "home", focus: "updateButton", shown: home, flags: none, lostShown: searching, lostColor: "red" },
            { tag: "updatePrompt", focus: "startUpdateButton", shown: prompt, flags: [false, true, false, false],
              lostShown: prompt.concat(["infoConnectText"]), lostColor: "red" },
            { tag: "updating", focus: "genericProgressBar", shown: updating, flags: [true, false, false, false],
              lostShown: updating.concat(["infoConnectText"]), lostColor: "red" },
            { tag: "updateFinished", focus: "closeApplicationButton", shown: ["infoText", "closeApplicationButton"],
              flags: [true, false, true, false], texts: ["File transfer complete!",
              "File transfer complete! Tovik will now reboot to apply the update. You can now close this application."],
              lostShown: ["infoText", "closeApplicationButton"], lostColor: "green" },
            { tag: "updateConfirmed", focus: "infoText", shown: ["infoText", "closeApplicationButton"],
              flags: [true, false, true, false], texts: ["File transfer complete!",
              "Update complete! Tovik now runs firmware Tvx1.6.0. You can now close this application."],
              lostShown: ["infoText", "closeApplicationButton"], lostColor: "green" },
            { tag: "updateFailed", focus: "closeApplicationButton", shown: failed, flags: [true, false, false, false],
              texts: ["File transfer failed!", "Something went wrong during the file transfer. Please try again or contact support."],
              lostShown: failed, lostColor: "red" }, // no instructions over the texts
            { tag: "enteringTransfer", focus: "versionText", shown: waiting, flags: [false, false, true, false],
              lostShown: waiting, lostColor: "green" },
            { tag: "transferMode", focus: "openProjectsButton", shown: transferShown, flags: [false, false, false, true],
              lostShown: transferShown.concat(["infoConnectText"]), lostColor: "red" },
            { tag: "finalizing", focus: "versionText", shown: waiting, flags: [false, false, true, true],
              lostShown: waiting, lostColor: "green" },
            { tag: "backHome", focus: "updateButton", shown: home, flags: none, lostShown: searching, lostColor: "red" }
        ];
    }

    function test_states(data) {
        enterState(data.tag);
        var searching = data.tag === "searching";
        var label = searching ? "Looking for Tovik" : "Tovik is connected";
        expectVisible(data.shown);
        expectAccessible(data.shown, data.focus);
        expectIndicator(searching ? "orange" : "green", label, !searching);
        expectFlags(data.flags);
        if (data.texts)
            compare([el("versionText").text, el("infoText").text], data.texts);

        Doubles.midiHandler.deviceFound(false);
        expectVisible(data.lostShown);
        var lost = data.lostColor === "red";
        expectAccessible(data.lostShown, lost ? "connectionlabel" : data.focus);
        expectIndicator(data.lostColor, lost ? "Tovik is not connected" : label,
                        lost ? false : !searching);
        expectFlags(data.flags);

        // Buttons that act on the instrument follow connected, shown or not.
        var dependent = folderButtons.concat(["startUpdateButton"]);
        for (var i = 0; i < dependent.length; ++i) {
            var connected = el("logoContainer").connected;
            compare([el(dependent[i]).enabled, el(dependent[i]).opacity],
                    [connected, connected ? 1 : 0.5], dependent[i]);
        }

        Doubles.midiHandler.deviceFound(true);
        Doubles.midiHandler.tovikReceivedVersion("1.7.0");
        expectVisible(searching ? ["updateButton", "transferButton", "dotAndLabelRow"]
                                : data.shown);
        expectIndicator("green", "Tovik is connected", true);
    }

    // The version reply decides Transfer (1.5.0 or newer) only while no flow is active and no
    // update has started.
    function test_transferRule_data() {
        return [["connected", "1.4.9", false], ["connected", "1.5.0", true],
                ["connected", "1.10.0", true], ["updatePrompt", "1.7.0", false],
                ["transferMode", "1.7.0", false], ["updateFinished", "1.7.0", false],
                ["updating", "1.7.0", false]].map(function(r) {
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
        compare(el("transferButton").visible, data.transfer);
        // The next presence report keeps to the same rule.
        if (home) {
            Doubles.midiHandler.deviceFound(true);
            compare([el("updateButton").visible, el("transferButton").visible],
                    [true, data.transfer]);
        }
    }

    // The bar as the window drives it (its values clamped to 0..100) and past those clamps.
    function test_progressBar_data() {
        return [
            { tag: "download, clamped", via: "download", value: 150, caption: "Downloading...",
              text: "100%", fill: 1 },
            { tag: "copy, clamped", via: "copy", value: -5, caption: "Transferring...",
              text: "0%", fill: 0 },
            { tag: "transfer, named", mode: "transfer", fileName: "a <b>tag</b>.tvq",
              caption: "Transferring: a <b>tag</b>.tvq", value: 42.5, text: "43%", fill: 0.425 },
            { tag: "transfer, unnamed", mode: "transfer", fileName: "",
              caption: "Transferring...", value: -5, text: "-5%", fill: 0 },
            { tag: "other mode", mode: "Downloading", fileName: "", caption: "Working...",
              value: 150, text: "150%", fill: 1.5 }
        ];
    }

    function test_progressBar(data) {
        enterState("updating");
        var bar = el("genericProgressBar");
        if (data.via === "download") {
            Doubles.downloader.downloadingProgressBar(data.value);
        } else if (data.via === "copy") {
            Doubles.mainController.copyingFileProgress(data.value);
        } else {
            bar.mode = data.mode;
            bar.fileName = data.fileName;
            bar.percentage = data.value;
        }
        compare(findChild(bar, "progressCaption").text, data.caption);
        compare(findChild(bar, "progressText").text, data.text);
        // Past 100 the fill is wider than the track, which clips it.
        var track = findChild(bar, "progressTrack");
        fuzzyCompare(findChild(bar, "progressFill").width, track.width * data.fill, 0.01);
    }

    // What Update leads to, after the catalogue, the version check or a transfer.
    function test_updatePrompt_data() {
        var installed = "The latest version is already installed!";
        return [
            { tag: "no catalogue", text: "Looking for the latest version or Tvx..." },
            { tag: "catalogue with markup", catalogue: "<b>2.0.1</b>",
              text: "The latest available version is Tvx<b>2.0.1</b>" },
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
        click("updateButton");
        expectVisible(["versionText", "infoText", "dotAndLabelRow", data.check
                       ? "closeApplicationButton" : "startUpdateButton"]);
        compare(el("versionText").text, data.text);
        compare(el("infoText").text, data.info ? data.info : updateWarning);
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
        textSpy.target = version;
        var expected = [data.base + ".", data.base + "..", data.base + "...", data.base];
        for (var i = 0; i < expected.length; ++i) {
            // A disconnection during the wait leaves the animation running.
            if (i === 3)
                Doubles.midiHandler.deviceFound(false);
            textSpy.wait(1500);
            compare(textSpy.signalArguments[i][0], expected[i], "frame " + i);
            compare(Accessibility.describe(version).name, data.base + "...");
        }

        // The answer stops the frames.
        if (data.state === "enteringTransfer")
            Doubles.midiHandler.transferSysExReceived();
        else
            Doubles.midiHandler.transferSysExEndReceived();
        textSpy.clear();
        wait(1100);
        compare(textSpy.count, 0);
    }

    // Both flows by keyboard alone: [the focus expected, then a key or a signal]; Tab follows
    // the reading order, Space and Enter press the focused button.
    function test_keyboard_data() {
        var m = Doubles.midiHandler, c = Doubles.mainController;
        return [
            { tag: "update", steps: [["updateButton", Qt.Key_Space],
                ["startUpdateButton", Qt.Key_Return],
                ["infoText", function() { Doubles.downloader.downloadingProgressBar(7); }],
                ["genericProgressBar", function() { c.fileTransferComplete(true); }],
                ["closeApplicationButton"]] },
            { tag: "transfer", steps: [["updateButton", Qt.Key_Tab], ["transferButton", Qt.Key_Space],
                ["versionText", function() { m.transferSysExReceived(); }],
                ["openProjectsButton", Qt.Key_Tab], ["openDefinitionsButton", Qt.Key_Tab],
                ["openMidiFilesButton", Qt.Key_Tab], ["openGroovesButton", Qt.Key_Tab],
                ["completeTransferButton", Qt.Key_Enter],
                ["versionText", function() { c.ejectCompleted(false); }],
                ["completeTransferButton", Qt.Key_Space],
                ["versionText", function() { m.transferSysExEndReceived(); }], ["updateButton"]] }
        ];
    }

    function test_keyboard(data) {
        enterState("home");
        for (var i = 0; i < data.steps.length; ++i) {
            compare(win.activeFocusItem.objectName, data.steps[i][0], "step " + i);
            if (typeof data.steps[i][1] === "number")
                keyClick(data.steps[i][1]);
            else if (data.steps[i][1])
                data.steps[i][1]();
        }
    }

    // The focus frame shows on the button the keyboard reached, and only there.
    function test_focusFrame() {
        enterState("home");
        var update = grabImage(el("updateButton")), transfer = grabImage(el("transferButton"));
        keyClick(Qt.Key_Tab);
        verify(!grabImage(el("transferButton")).equals(transfer), "no frame on the focused button");
        verify(grabImage(el("updateButton")).equals(update), "a frame without keyboard focus");
    }
}
