#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

// A file error: "File access denied", "Invalid filename" or "I/O error <errno>", followed, when a file is
// concerned, by its name and the system's reason: I/O error 2: "/data/run.txt": No such file or directory.
class EInOutError : public std::runtime_error {
public:
    EInOutError(const std::string& message, int errorCode) : std::runtime_error(message), ErrorCode(errorCode) {}
    int ErrorCode;
};

// A file opened for appending whole pieces (lines): what a failed or short write left of a piece is cut
// off again, so a regular file only ever holds whole pieces. The first open in the process ignores SIGPIPE
// and SIGXFSZ, so that a pipe without a reader or the file size limit fail a write instead of ending the
// process. Every failure raises EInOutError.
class TLogFile {
public:
    TLogFile() = default;
    ~TLogFile(); // closes without raising
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    // Creates the file, or truncates it if it exists. A pipe without a reader raises at once.
    void Rewrite(const std::string& fileName);
    // Creates a file that does not exist yet; an existing file raises (EEXIST) and is left alone.
    void CreateNew(const std::string& fileName);
    bool IsOpen() const { return FFd >= 0; }
    // The name of the file open, or last open.
    const std::string& FileName() const { return FFileName; }
    // Whether the last open created the file (rather than truncating or joining one that was there).
    bool Created() const { return FCreated; }
    // Where the next piece begins: the bytes this object put in the file and kept.
    uint64_t Size() const { return FSize; }

    // Appends data, whose pieces end at the offsets in ends (ascending, the last at data.size()), with
    // one write, more only after a short one. When a write fails, a regular file is cut back to the end
    // of the last whole piece (a pipe or device keeps what it took) and it raises. `written` tells how
    // many pieces are in the file, also when it raises.
    void Append(std::string_view data, std::span<const size_t> ends, size_t& written);
    // The same for data that is one piece.
    void Append(std::string_view data);
    // Hands what was written to the disk (fdatasync; nothing to do for a pipe or device).
    void Sync();
    // True when the name no longer leads to the open file: it was removed, renamed or replaced.
    bool Replaced() const;

    // Closes; raises when the system reports an error (the file is closed all the same).
    void Close();
    // Closes without raising.
    void Abandon();
    // Closes without raising, and removes the file when the last open created it and the name still
    // leads to it.
    void Remove();

    // The message of an I/O error for an errno value.
    static std::string ErrorText(int errorCode);

private:
    void open(const std::string& fileName, bool replace);
    [[noreturn]] void fail(int errorCode, const std::string& fileName, const char* reason = nullptr) const;
    bool cutBack();

    int FFd = -1;
    std::string FFileName;
    bool FCreated = false;
    bool FRegular = false;
    bool FCutOwed = false; // a cut back failed: the file is longer than FSize
    uint64_t FSize = 0;
};
