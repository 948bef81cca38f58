#pragma once
#include <string>
#include <vector>

// Names of the serial ports the system has (bare device names such as "ttyUSB0"), sorted
// case-insensitively as text. Replaces the content of Ports; raises EComPort 23 when the inventory
// cannot be read (Ports unchanged). sysfsRoot is the folder holding the tty class ("/sys/class/tty").
void ListSerialPorts(std::vector<std::string>& Ports, const std::string& sysfsRoot = "/sys/class/tty");
