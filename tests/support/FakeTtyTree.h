#pragma once
#include <filesystem>
#include <fstream>
#include <string>

// A stand-in for the sysfs tty class folder: one folder per tty, with a "device" link for ttys that
// have hardware behind them and, for serial-core ports, a "type" file.
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

    void removePort(const std::string& name) const // unplugging: the class entry and the device's folder go
    {
        std::filesystem::remove(std::filesystem::path(root_) / name);
        std::filesystem::remove_all(std::filesystem::path(root_).parent_path() / "devices" / name);
    }

private:
    std::string root_;
};
