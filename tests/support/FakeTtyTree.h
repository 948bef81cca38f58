#pragma once
#include <filesystem>
#include <fstream>
#include <string>

// A stand-in for the sysfs tty class folder: one folder per tty, with a "device" link for ttys that
// have hardware behind them and, for serial-core ports, a "type" file. Beside it, a stand-in for the
// by-id folder of device links (byId()).
class FakeTtyTree {
public:
    explicit FakeTtyTree(std::string root) : root_(std::move(root)) { std::filesystem::create_directories(root_); }

    const std::string& root() const { return root_; }

    // uartType < 0: no "type" file. As in sysfs, the entry is a link to the device's own folder.
    void addPort(const std::string& name, bool withDevice = true, int uartType = -1) const
    {
        namespace fs = std::filesystem;
        const fs::path target = fs::path(root_).parent_path() / "devices" / name;
        fs::create_directories(target);
        if (withDevice) {
            fs::create_directories(target.parent_path() / "hw");
            fs::create_directory_symlink(target.parent_path() / "hw", target / "device");
        }
        if (uartType >= 0)
            std::ofstream(target / "type") << uartType << "\n";
        fs::create_directory_symlink(target, fs::path(root_) / name);
    }

    // A port of a USB adapter with a serial number: its device folder lies below the adapter's interface.
    void addUsbPort(const std::string& name, const std::string& serial, int interface = 0) const
    {
        namespace fs = std::filesystem;
        const fs::path adapter = fs::path(root_).parent_path() / "devices" / ("usb-" + serial);
        const fs::path device = adapter / std::to_string(interface) / name;
        fs::create_directories(device);
        std::ofstream(adapter / "idVendor") << "1111\n";
        std::ofstream(adapter / "idProduct") << "2222\n";
        std::ofstream(adapter / "serial") << serial << "\n";
        std::ofstream(device.parent_path() / "bInterfaceNumber") << "0" << interface << "\n";
        std::ofstream(device / "port_number") << "0\n";
        const fs::path entry = adapter.parent_path() / name; // as addPort: a "device" link to it
        fs::create_directories(entry);
        fs::create_directory_symlink(device, entry / "device");
        fs::create_directory_symlink(entry, fs::path(root_) / name);
    }

    // The by-id folder, and its links as the system keeps them.
    std::string byId() const { return (std::filesystem::path(root_).parent_path() / "by-id").string(); }
    void linkById(const std::string& name, const std::string& device) const
    {
        std::filesystem::create_directories(byId());
        std::filesystem::remove(std::filesystem::path(byId()) / name);
        std::filesystem::create_symlink(device, std::filesystem::path(byId()) / name);
    }
    void unlinkById(const std::string& name) const { std::filesystem::remove(std::filesystem::path(byId()) / name); }

    void removePort(const std::string& name) const // unplugging: the class entry and the device's folder go
    {
        std::filesystem::remove(std::filesystem::path(root_) / name);
        std::filesystem::remove_all(std::filesystem::path(root_).parent_path() / "devices" / name);
    }

private:
    std::string root_;
};
