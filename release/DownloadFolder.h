#pragma once

#include <string>

// The folder the update file is downloaded into, and the files in it: only this user may put
// anything there, and nothing in it is reached through a link. Paths are UTF-8. Qt-free so the
// Windows code compiles on its own.

// The download folder for a temporary location: always a folder of our own in it, never the
// location itself, where the user's own files with any name may lie.
std::string privateDownloadFolder(const std::string &tempLocation);

// A new folder of ours, with a name no one can have taken before, in the temporary location,
// for when someone else holds the usual one. Empty with the reason in *error when none is made.
std::string freshDownloadFolder(const std::string &tempLocation, std::string *error);

// The system's own temporary location, for when the user's names none that exists.
std::string systemTempLocation();

// Creates the folder when it is missing and checks that it is a folder of this user's that no
// other user can read or write. Empty when it may be used, else why not.
std::string prepareDownloadFolder(const std::string &path);

// A new, empty file at path for writing; whatever was at path is removed first, a link included
// (never followed). A descriptor for QFile::open(int), or -1 with the reason in *error.
int createFileNoFollow(const std::string &path, std::string *error);

// Puts the file at from in the place of to in one step; a link at to is replaced, not followed.
bool replaceFile(const std::string &from, const std::string &to, std::string *error);
