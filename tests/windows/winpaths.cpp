// The program's Qt-free file seams (release/DownloadFolder_win.cpp, storage/DeviceFlush_win.cpp,
// widepath/WidePath_win.cpp) under Wine, in a profile whose name is not ASCII: the paths arrive as
// UTF-8, as the program hands them over, and must name the same files to Windows.

#include "WinCheck.h"
#include "release/DownloadFolder.h"
#include "storage/DeviceFlush.h"
#include "widepath/WidePath.h"

#include <io.h>

#include <string>

int main()
{
    const std::string temp = "C:/users/J\xc3\xbcrgen \xc3\x98rsted \xe5\xb1\xb1\xe7\x94\xb0/Temp";
    const std::wstring wide = L"C:/users/J\u00fcrgen \u00d8rsted \u5c71\u7530/Temp";
    const auto size = [](const std::wstring &path) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        return GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow
                                                                                : ~DWORD(0);
    };
    WIN_CHECK(widePath(temp) == wide, "wide path");
    CreateDirectoryW(wide.substr(0, wide.size() - 5).c_str(), nullptr);
    CreateDirectoryW(wide.c_str(), nullptr);

    // A folder of our own below the temporary location, and a fresh one beside it.
    const std::string folder = privateDownloadFolder(temp);
    std::string error;
    const std::string fresh = freshDownloadFolder(temp, &error);
    WIN_CHECK(folder == temp + "/tovik-updater" && prepareDownloadFolder(folder).empty(), "folder");
    WIN_CHECK(GetFileAttributesW((wide + L"/tovik-updater").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              "folder");
    WIN_CHECK(!fresh.empty() && fresh != folder && prepareDownloadFolder(fresh).empty(), "fresh");

    // The update file, written beside its name and put in its place; the copy's target, flushed.
    const int part = createFileNoFollow(folder + "/fw \xc3\xa9.tvq.part", &error);
    WIN_CHECK(part >= 0 && _write(part, "update", 6) == 6 && _close(part) == 0, "update file");
    WIN_CHECK(replaceFile(folder + "/fw \xc3\xa9.tvq.part", folder + "/fw \xc3\xa9.tvq", &error),
              "update file");
    WIN_CHECK(size(wide + L"/tovik-updater/fw \u00e9.tvq") == 6, "update file");
    const int copy = openFileForFlushing(temp + "/copy \xe5\xb1\xb1.tvq");
    WIN_CHECK(copy >= 0 && _write(copy, "copied", 6) == 6 && flushFileToDevice(copy), "flush");
    WIN_CHECK(copy >= 0 && _close(copy) == 0 && size(wide + L"/copy \u5c71.tvq") == 6, "flush");

    const std::string system = systemTempLocation();
    WIN_CHECK(system.size() > 5 && system.substr(system.size() - 5) == "/Temp", "system temp");
    return summary(6);
}
