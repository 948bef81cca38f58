#pragma once
#include "settings/FileWriter.h"

#include <cerrno>
#include <cstddef>

// File calls that fail part-way: the first write is cut short after a few bytes and the next fails
// with "no space left"; or the rename fails.
class FailingFileOps : public TFileOps {
public:
    bool failWrite = true;
    bool failRename = false;

    ssize_t Write(int fd, const void* data, size_t size) override
    {
        if (!failWrite)
            return TFileOps::Write(fd, data, size);
        if (writes++ == 0)
            return TFileOps::Write(fd, data, size < 8 ? size : 8);
        errno = ENOSPC;
        return -1;
    }
    int Rename(const char* from, const char* to) override
    {
        if (!failRename)
            return TFileOps::Rename(from, to);
        errno = EIO;
        return -1;
    }

    int writes = 0;
};
