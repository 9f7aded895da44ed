#pragma once

#include <string>

// A UTF-8 path as the wide-character calls of Windows take it. Qt-free, like its users.
std::wstring widePath(const std::string &path);
