// The program's Qt-free file seams (release/DownloadFolder_win.cpp, storage/DeviceFlush_win.cpp,
// storage/WidePath_win.cpp) under Wine, in a profile whose name is not ASCII: the paths arrive as
// UTF-8, as the program hands them over, and must name the same folder to Windows.

#include "WinCheck.h"
#include "release/DownloadFolder.h"
#include "storage/DeviceFlush.h"
#include "storage/WidePath.h"

#include <windows.h>

#include <io.h>

#include <string>

namespace {

const std::string temp = "C:/users/J\xc3\xbcrgen \xc3\x98rsted \xe5\xb1\xb1\xe7\x94\xb0/Temp";
const std::wstring wideTemp = L"C:/users/J\u00fcrgen \u00d8rsted \u5c71\u7530/Temp";

bool isFolder(const std::wstring &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

long long fileSize(const std::wstring &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Writes through a seam's descriptor and closes it.
bool writeAll(int descriptor, const char *text, int size)
{
    const bool written = descriptor >= 0 && _write(descriptor, text, size) == size;
    return descriptor >= 0 && _close(descriptor) == 0 && written;
}

} // namespace

int main()
{
    WIN_CHECK(widePath(temp) == wideTemp, "wide path");
    CreateDirectoryW(L"C:/users", nullptr);
    CreateDirectoryW(wideTemp.substr(0, wideTemp.size() - 5).c_str(), nullptr);
    WIN_CHECK(CreateDirectoryW(wideTemp.c_str(), nullptr) || isFolder(wideTemp), "profile");

    // A folder of our own below the temporary location, never the location itself.
    const std::string folder = privateDownloadFolder(temp);
    WIN_CHECK(folder == temp + "/tovik-updater", "download folder");
    WIN_CHECK(prepareDownloadFolder(folder).empty(), "download folder");
    WIN_CHECK(isFolder(wideTemp + L"/tovik-updater"), "download folder");
    std::string error;
    const std::string fresh = freshDownloadFolder(temp, &error);
    WIN_CHECK(!fresh.empty() && fresh != folder && isFolder(widePath(fresh)), "fresh folder");
    WIN_CHECK(prepareDownloadFolder(fresh).empty(), "fresh folder");

    // The update file: written beside its name, then put in its place.
    const std::string part = folder + "/fw \xc3\xa9.tvq.part";
    WIN_CHECK(writeAll(createFileNoFollow(part, &error), "update", 6), "update file");
    WIN_CHECK(replaceFile(part, folder + "/fw \xc3\xa9.tvq", &error), "update file");
    WIN_CHECK(fileSize(wideTemp + L"/tovik-updater/fw \u00e9.tvq") == 6, "update file");

    // The copy's target, flushed to the device.
    const int copy = openFileForFlushing(temp + "/copy \xe5\xb1\xb1.tvq");
    WIN_CHECK(copy >= 0 && _write(copy, "copied", 6) == 6 && flushFileToDevice(copy), "flush");
    WIN_CHECK(copy >= 0 && _close(copy) == 0, "flush");
    WIN_CHECK(fileSize(wideTemp + L"/copy \u5c71.tvq") == 6, "flush");
    WIN_CHECK(flushDirectoryToDevice(folder), "flush");

    const std::string system = systemTempLocation();
    WIN_CHECK(system.size() > 5 && system.substr(system.size() - 5) == "/Temp", "system temp");
    return summary(6);
}
