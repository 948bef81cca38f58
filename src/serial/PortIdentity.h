#pragma once
#include <string>

// The folders in which the system describes its serial devices; tests point them at fake trees.
struct PortRoots {
    std::string SysfsTty = "/sys/class/tty"; // one entry per tty, as for ListSerialPorts
    std::string ById = "/dev/serial/by-id";  // one link per adapter, named after its maker, model and serial
};

// What stays the same of a USB adapter when it is unplugged and comes back under another name
// (ttyUSB0 held open by a program while the adapter was away returns as ttyUSB1).
struct PortIdentity {
    std::string ByIdLink;  // name of the link in the by-id folder that points at the device
    std::string UsbSerial; // "vendor:product:serial:interface:port" of a USB adapter with a serial number
    bool empty() const { return ByIdLink.empty() && UsbSerial.empty(); }
    // True only when both name the adapter in the same way and the names differ.
    bool differsFrom(const PortIdentity& other) const;
};

// The identity of the device that a port name (a bare name such as "ttyUSB0", or a path) stands for
// now; empty when there is no such device or it has no identity (a built-in UART, a pseudo-terminal).
//
//   const PortIdentity id = IdentifyPort("ttyUSB0");      // at open
//   const std::string now = FindPortByIdentity(id);        // after a replug: "ttyUSB1"
PortIdentity IdentifyPort(const std::string& port, const PortRoots& roots = {});

// The port that carries the identity now: the device of its by-id link, else the tty whose USB adapter
// has that serial number. A device directly under /dev comes as a bare name ("ttyUSB1"), as the port list
// names it, any other as its path. Empty when no device carries it.
std::string FindPortByIdentity(const PortIdentity& identity, const PortRoots& roots = {});
