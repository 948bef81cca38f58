#pragma once
#include <stdexcept>
#include <string>

// A file error: "File access denied", "Invalid filename" or "I/O error <errno>", followed, when a file is
// concerned, by its name and the system's reason: I/O error 2: "/data/run.txt": No such file or directory.
class EInOutError : public std::runtime_error {
public:
    EInOutError(const std::string& message, int errorCode) : std::runtime_error(message), ErrorCode(errorCode) {}
    int ErrorCode;
};

// A buffered text file over a POSIX descriptor. Write() only buffers; Flush() hands the buffer to the
// operating system; Close() writes the rest and closes. Every failure raises EInOutError.
class TLogFile {
public:
    TLogFile() = default;
    ~TLogFile(); // closes (writing the buffer) without raising
    TLogFile(const TLogFile&) = delete;
    TLogFile& operator=(const TLogFile&) = delete;

    // Creates the file, or truncates it if it exists.
    void Rewrite(const std::string& fileName);
    // Creates a file that does not exist yet; an existing file raises (EEXIST) and is left alone.
    void CreateNew(const std::string& fileName);
    bool IsOpen() const { return FFd >= 0; }
    const std::string& FileName() const { return FFileName; }

    void Write(const std::string& text) { FBuffer += text; }
    void WriteLineEnd() { FBuffer += "\r\n"; }
    // On failure the bytes not taken by the system are dropped.
    void Flush();
    // Writes what is buffered and closes. The file is closed even when the write fails (then it raises).
    void Close();
    // Closes without writing what is buffered and without raising.
    void Abandon();

    // The message of an I/O error for an errno value.
    static std::string ErrorText(int errorCode);

private:
    void open(const std::string& fileName, int flags);
    [[noreturn]] void fail(int errorCode, const std::string& fileName) const;

    int FFd = -1;
    std::string FFileName;
    std::string FBuffer;
};
