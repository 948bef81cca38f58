#include "serial/PortIdentity.h"

#include "serial/ComPlatform.h"
#include "serial/EComPort.h"
#include "serial/PortList.h"
#include "serial/SystemFiles.h"

#include <climits>
#include <cstdlib>
#include <vector>

namespace {

// The canonical path of a file, links resolved; empty when it does not exist.
std::string resolved(const std::string& path)
{
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

std::string readAttribute(const std::string& folder, const char* name)
{
    return ReadSmallFile(AT_FDCWD, folder + "/" + name);
}

// The first (by name) link in `folder` that leads to `device`.
std::string linkTo(const std::string& device, const std::string& folder)
{
    DirHandle dir(::opendir(folder.c_str()));
    if (!dir)
        return {};
    std::string found;
    while (const dirent* e = ::readdir(dir.get())) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || (!found.empty() && name >= found))
            continue;
        if (resolved(folder + "/" + name) == device)
            found = name;
    }
    return found;
}

// The USB adapter above a tty's device in sysfs: the nearest folder with a serial number and a vendor,
// with the interface and the port of a multi-port adapter below it.
std::string usbSerial(const std::string& tty, const std::string& sysfsTty)
{
    std::string folder = resolved(sysfsTty + "/" + tty + "/device");
    if (folder.empty())
        return {};
    const std::string port = readAttribute(folder, "port_number");
    std::string interface;
    for (int depth = 0; depth < 8 && folder.size() > 1; ++depth) {
        if (interface.empty())
            interface = readAttribute(folder, "bInterfaceNumber");
        const std::string serial = readAttribute(folder, "serial");
        const std::string vendor = readAttribute(folder, "idVendor");
        if (!serial.empty() && !vendor.empty())
            return vendor + ":" + readAttribute(folder, "idProduct") + ":" + serial + ":" + interface + ":" + port;
        folder.erase(folder.rfind('/'));
    }
    return {};
}

std::string portName(const std::string& device)
{
    const std::string dev = "/dev/";
    if (device.compare(0, dev.size(), dev) == 0 && device.find('/', dev.size()) == std::string::npos)
        return device.substr(dev.size());
    return device;
}

} // namespace

bool PortIdentity::differsFrom(const PortIdentity& other) const
{
    if (!ByIdLink.empty() && !other.ByIdLink.empty())
        return ByIdLink != other.ByIdLink;
    if (!UsbSerial.empty() && !other.UsbSerial.empty())
        return UsbSerial != other.UsbSerial;
    return false;
}

PortIdentity IdentifyPort(const std::string& port, const PortRoots& roots)
{
    const std::string device = resolved(PortDevicePath(port));
    if (device.empty())
        return {};
    return {linkTo(device, roots.ById), usbSerial(device.substr(device.rfind('/') + 1), roots.SysfsTty)};
}

std::string FindPortByIdentity(const PortIdentity& identity, const PortRoots& roots)
{
    if (!identity.ByIdLink.empty()) {
        const std::string device = resolved(roots.ById + "/" + identity.ByIdLink);
        if (!device.empty())
            return portName(device);
    }
    if (identity.UsbSerial.empty())
        return {};
    std::vector<std::string> ports;
    try {
        ListSerialPorts(ports, roots.SysfsTty);
    } catch (const EComPort&) {
        return {};
    }
    for (const std::string& name : ports)
        if (usbSerial(name, roots.SysfsTty) == identity.UsbSerial)
            return name;
    return {};
}
