#include "serial/PortHolders.h"

#include "serial/ComPlatform.h"
#include "serial/SystemFiles.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace {

// The number of a pseudo-terminal's slave device ("/dev/pts/3" is 3), or -1 for other devices.
long ptyIndex(const std::string& device)
{
    constexpr std::string_view prefix = "/dev/pts/";
    if (device.compare(0, prefix.size(), prefix) != 0)
        return -1;
    char* end = nullptr;
    const long index = std::strtol(device.c_str() + prefix.size(), &end, 10);
    return *end == '\0' ? index : -1;
}

// Whether the descriptor is the master side of pseudo-terminal `index`: its holder is the far end of
// the line (a simulator, a terminal emulator), not another reader of it.
bool isPtyMaster(int fdDir, const char* fd, const char* target, long index)
{
    if (index < 0 || std::string_view(target).find("ptmx") == std::string_view::npos)
        return false;
    const std::string info = ReadSmallFile(fdDir, std::string("../fdinfo/") + fd);
    const char* field = std::strstr(info.c_str(), "tty-index:");
    return field && std::strtol(field + 10, nullptr, 10) == index;
}

// Whether one of the process's descriptors names `device` and none is its pseudo-terminal's master.
// The links are read, never followed, so a descriptor on a stalled file system cannot hold the scan up.
bool holds(int procFd, const char* pid, const std::string& device, long index)
{
    const int fdDir = ::openat(procFd, (std::string(pid) + "/fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fdDir < 0)
        return false; // gone meanwhile, or not ours to inspect
    DirHandle fds(::fdopendir(fdDir));
    if (!fds) {
        ::close(fdDir);
        return false;
    }
    bool found = false;
    char target[PATH_MAX];
    while (const dirent* entry = ::readdir(fds.get())) {
        const ssize_t n = ::readlinkat(fdDir, entry->d_name, target, sizeof target - 1);
        if (n <= 0)
            continue;
        target[n] = '\0';
        if (device == target)
            found = true;
        else if (isPtyMaster(fdDir, entry->d_name, target, index))
            return false;
    }
    return found;
}

} // namespace

std::vector<PortHolder> OtherPortHolders(const std::string& port)
{
    std::vector<PortHolder> holders;
    char device[PATH_MAX];
    if (!::realpath(PortDevicePath(port).c_str(), device))
        return holders;
    DirHandle proc(::opendir("/proc"));
    if (!proc)
        return holders;
    const int procFd = ::dirfd(proc.get());
    const pid_t self = ::getpid();
    const long index = ptyIndex(device);
    while (const dirent* entry = ::readdir(proc.get())) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == self)
            continue;
        if (holds(procFd, entry->d_name, device, index))
            holders.push_back({static_cast<pid_t>(pid), ReadSmallFile(procFd, std::string(entry->d_name) + "/comm")});
    }
    std::sort(holders.begin(), holders.end(), [](const PortHolder& a, const PortHolder& b) { return a.Pid < b.Pid; });
    return holders;
}
