#pragma once
#include <string>
#include <string_view>
#include <sys/types.h>

// The low-level calls used to replace a settings file. The default instance calls the system;
// tests derive from it to fail a save part-way through.
class TFileOps {
public:
    virtual ~TFileOps() = default;
    virtual ssize_t Write(int fd, const void* data, size_t size);
    virtual int Sync(int fd);
    virtual int Rename(const char* from, const char* to);

    static TFileOps& Default();
};

// Replaces the content of fileName with data without ever leaving a partial file: the data goes to a
// temporary file in the same folder, which is flushed to disk and then renamed over fileName.
// Returns false (errno set) when any step fails; fileName is then untouched and the temporary removed.
// The new file keeps the permissions of the old one, or gets mode 0600 with ownerOnly.
bool ReplaceFileContent(const std::string& fileName, std::string_view data, TFileOps& ops = TFileOps::Default(),
                        bool ownerOnly = false);
