#include "widepath/WidePath.h"

#include <windows.h>

std::wstring widePath(const std::string &path)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), nullptr, 0);
    std::wstring wide(size_t(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()), wide.data(), length);
    return wide;
}
