#include "PortHolders.h"

#include "ComPlatform.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

struct DirectoryCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using Directory = std::unique_ptr<DIR, DirectoryCloser>;

// Whether one of the process's descriptors names `device`. The links are read, never followed, so a
// descriptor on a stalled file system cannot hold the scan up.
bool holds(int procFd, const char* pid, const std::string& device)
{
    const int fdDir = ::openat(procFd, (std::string(pid) + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDir < 0)
        return false; // gone meanwhile, or not ours to inspect
    Directory fds(::fdopendir(fdDir));
    if (!fds) {
        ::close(fdDir);
        return false;
    }
    char target[PATH_MAX];
    while (const dirent* entry = ::readdir(fds.get())) {
        const ssize_t n = ::readlinkat(fdDir, entry->d_name, target, sizeof target);
        if (n > 0 && device.compare(0, std::string::npos, target, static_cast<size_t>(n)) == 0)
            return true;
    }
    return false;
}

std::string command(int procFd, const char* pid)
{
    const int fd = ::openat(procFd, (std::string(pid) + "/comm").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char text[64];
    const ssize_t n = ::read(fd, text, sizeof text);
    ::close(fd);
    std::string name(text, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    return name;
}

} // namespace

std::vector<PortHolder> OtherPortHolders(const std::string& port)
{
    std::vector<PortHolder> holders;
    char device[PATH_MAX];
    if (!::realpath(PortDevicePath(port).c_str(), device))
        return holders;
    Directory proc(::opendir("/proc"));
    if (!proc)
        return holders;
    const int procFd = ::dirfd(proc.get());
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(proc.get())) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == self)
            continue;
        if (holds(procFd, entry->d_name, device))
            holders.push_back({static_cast<pid_t>(pid), command(procFd, entry->d_name)});
    }
    std::sort(holders.begin(), holders.end(), [](const PortHolder& a, const PortHolder& b) { return a.Pid < b.Pid; });
    return holders;
}
