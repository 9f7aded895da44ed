#include "release/DownloadFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string privateDownloadFolder(const std::string &tempLocation)
{
    return tempLocation + "/tovik-updater-" + std::to_string(::geteuid());
}

std::string freshDownloadFolder(const std::string &tempLocation, std::string *error)
{
    // mkdtemp makes the folder itself, with mode 0700 and a name that did not exist.
    std::string name = privateDownloadFolder(tempLocation) + "-XXXXXX";
    if (::mkdtemp(name.data()) != nullptr)
        return name;
    *error = std::strerror(errno);
    return std::string();
}

std::string systemTempLocation()
{
    return "/tmp";
}

std::string prepareDownloadFolder(const std::string &path)
{
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return std::string("it cannot be created: ") + std::strerror(errno);
    struct stat info
    {
    };
    if (::lstat(path.c_str(), &info) != 0)
        return std::string("it cannot be examined: ") + std::strerror(errno);
    if (!S_ISDIR(info.st_mode))
        return "it is not a folder";
    if (info.st_uid != ::geteuid())
        return "it belongs to another user";
    if ((info.st_mode & 077) != 0)
        return "other users can use it";
    return std::string();
}

int createFileNoFollow(const std::string &path, std::string *error)
{
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        *error = std::strerror(errno);
        return -1;
    }
    const int descriptor =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor < 0)
        *error = std::strerror(errno);
    return descriptor;
}

bool replaceFile(const std::string &from, const std::string &to, std::string *error)
{
    if (::rename(from.c_str(), to.c_str()) == 0)
        return true;
    *error = std::strerror(errno);
    return false;
}
