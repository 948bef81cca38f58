#pragma once
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>

// Reading the kernel's small text files (sysfs, procfs) and its folders.

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// The text of a small file at `path` (relative to the folder `dirFd`, or to the working folder with
// AT_FDCWD), at most 511 bytes, with trailing white space removed; empty when it cannot be read.
std::string ReadSmallFile(int dirFd, const std::string& path);
