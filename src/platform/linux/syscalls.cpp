#include "syscalls.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace diagnostika::linux_sys {
namespace {

class SystemCalls final : public Syscalls {
public:
    int open(const char* path, int flags) override
    {
        int fd;
        do {
            fd = ::open(path, flags);
        } while (fd < 0 && errno == EINTR);
        return fd;
    }

    int close(int fd) override { return ::close(fd); }

    int ioctl(int fd, unsigned long request, void* argument) override
    {
        int rc;
        do {
            rc = ::ioctl(fd, request, argument);
        } while (rc < 0 && errno == EINTR);
        return rc;
    }

    bool readText(const std::string& path, std::string& text) override
    {
        std::ifstream in(path);
        if (!in)
            return false;
        std::ostringstream content;
        content << in.rdbuf();
        text = content.str();
        return true;
    }

    bool listFolder(const std::string& path, std::vector<std::string>& names) override
    {
        DIR* dir = ::opendir(path.c_str());
        if (!dir)
            return false;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
        return true;
    }
};

} // namespace

Syscalls& systemCalls()
{
    // Never destroyed: a claiming thread that outlives its caller may still use it while the
    // program ends.
    static SystemCalls* const calls = new SystemCalls;
    return *calls;
}

int CountingSyscalls::open(const char* path, int flags)
{
    ++opens;
    return next_.open(path, flags);
}

int CountingSyscalls::close(int fd)
{
    ++closes;
    return next_.close(fd);
}

int CountingSyscalls::ioctl(int fd, unsigned long request, void* argument)
{
    ++ioctls;
    return next_.ioctl(fd, request, argument);
}

bool CountingSyscalls::readText(const std::string& path, std::string& text)
{
    ++fileReads;
    return next_.readText(path, text);
}

bool CountingSyscalls::listFolder(const std::string& path, std::vector<std::string>& names)
{
    ++fileReads;
    return next_.listFolder(path, names);
}

std::string errorText(int error)
{
    return std::strerror(error);
}

} // namespace diagnostika::linux_sys
