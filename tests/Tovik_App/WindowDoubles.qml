import QtQuick 2.15

// Doubles of the window's four context objects: the signals and invokables of the real classes,
// doing nothing. Tests and tools/screenshots emit the signals to drive the window.
QtObject {
    property QtObject midiHandler: QtObject {
        signal deviceReenumerationFinished(bool success)
        signal deviceFound(bool deviceFound)
        signal deviceSetToTransferMode()
        signal updateTransferDone()
        signal transferSysExReceived()
        signal transferSysExEndReceived()
        signal tovikReceivedVersion(string version)
        signal owedSysExSent()
        function sendTransferSysEx() {}
        function resumeUpdate() {}
    }
    property QtObject downloader: QtObject {
        signal downloadFinished(bool success, string updateFilePath, string updateFileName)
        signal setDeviceToTransferMode(bool success)
        signal releasesJsonFetched()
        signal downloadingProgressBar(real progress)
        signal latestVersionFetched(string version)
        signal versionCheck(bool success)
        signal downloadStatus(bool success, string message)
        signal updateConfirmed(bool success, string version)
        function downloadFile() {}
    }
    property QtObject mainController: QtObject {
        signal fileTransferComplete(bool success)
        signal copyingFileProgress(int percentage)
        signal ejectCompleted(bool success)
        signal updateVolumeMounted(bool mounted)
    }
    property QtObject fileManagerBridge: QtObject {
        signal requestOpenFolder(string deviceName, string relativePath)
        signal requestEjectDevice(string deviceName)
        signal requestUpdateRetry()
        function openProjects() {}
        function openInstrumentDefinitions() {}
        function openMidiFiles() {}
        function openGrooves() {}
        function completeTransfer() {}
        function retryUpdate() {}
    }
}
