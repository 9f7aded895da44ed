#include "release/DownloadFolder.h"

#include "widepath/WidePath.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

namespace {
std::string lastError()
{
    const DWORD code = GetLastError();
    char text[256] = {};
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                       text, sizeof text, nullptr) == 0)
        return "error " + std::to_string(code);
    std::string message(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return message;
}
} // namespace

std::string privateDownloadFolder(const std::string &tempLocation)
{
    return tempLocation + "/tovik-updater";
}

std::string freshDownloadFolder(const std::string &tempLocation, std::string *error)
{
    const std::string stem = privateDownloadFolder(tempLocation) + "-" +
                             std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(GetTickCount64()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = stem + std::to_string(attempt);
        if (CreateDirectoryW(widePath(name).c_str(), nullptr))
            return name;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    *error = lastError();
    return std::string();
}

std::string systemTempLocation()
{
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return "C:/Windows/Temp";
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, folder, int(length), nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, folder, int(length), utf8.data(), bytes, nullptr, nullptr);
    return utf8 + "/Temp";
}

std::string prepareDownloadFolder(const std::string &path)
{
    const std::wstring wide = widePath(path);
    if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return "it cannot be created: " + lastError();
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return "it cannot be examined: " + lastError();
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return "it is not a folder";
    return std::string();
}

int createFileNoFollow(const std::string &path, std::string *error)
{
    const std::wstring wide = widePath(path);
    // Deleting a link removes the link itself.
    if (!DeleteFileW(wide.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        *error = lastError();
        return -1;
    }
    // CREATE_NEW fails on anything that is still there, a link included.
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = lastError();
        return -1;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
    if (descriptor < 0) {
        *error = "no descriptor for the file";
        CloseHandle(file);
    }
    return descriptor;
}

bool replaceFile(const std::string &from, const std::string &to, std::string *error)
{
    if (MoveFileExW(widePath(from).c_str(), widePath(to).c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    *error = lastError();
    return false;
}
