#include "serial/PortList.h"

#include "serial/EComPort.h"
#include "serial/SystemFiles.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <sys/stat.h>

namespace {

bool lessCaseInsensitive(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) < std::tolower(y);
    });
}

// "ttyS" followed by digits: a legacy UART slot that the kernel lists whether or not a UART is fitted.
bool isLegacyUartName(const std::string& name)
{
    if (name.size() <= 4 || name.compare(0, 4, "ttyS") != 0)
        return false;
    return std::all_of(name.begin() + 4, name.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The kernel reports an absent UART with port type 0 (unknown).
bool uartAbsent(const std::string& entry)
{
    return ReadSmallFile(AT_FDCWD, entry + "/type") == "0";
}

} // namespace

void ListSerialPorts(std::vector<std::string>& Ports, const std::string& sysfsRoot)
{
    DirHandle dir(::opendir(sysfsRoot.c_str()));
    if (!dir)
        throw EComPort(ComErrorCode::RegistryError, errno);

    std::vector<std::string> found;
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(dir.get());
        if (!e) {
            if (errno != 0)
                throw EComPort(ComErrorCode::RegistryError, errno);
            break;
        }
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string entry = sysfsRoot + "/" + name;
        struct stat st {};
        if (::lstat((entry + "/device").c_str(), &st) != 0)
            continue; // virtual terminals, pseudo-terminals and the like have no device behind them
        if (isLegacyUartName(name) && uartAbsent(entry))
            continue;
        found.push_back(name);
    }
    std::stable_sort(found.begin(), found.end(), lessCaseInsensitive);
    Ports.swap(found);
}
