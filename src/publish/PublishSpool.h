#pragma once
#include "publish/ReadingQueue.h"

#include <cstddef>
#include <string>
#include <vector>

// The readings and alarm events waiting for the broker, kept in a file so that they survive a restart.
//
// The file: a 16-byte header ("VMLSPOOL", a 32-bit version, 4 bytes zero), then one record per item:
// a 32-bit payload length, the payload's CRC-32, the payload (an item's fields in this machine's byte
// order; the file never leaves it). Records are appended whole with O_APPEND and no fsync: a crash
// leaves at most a cut last record. The last `live` records appended are the ones still waiting; the
// others were delivered or dropped. The file is emptied to its header when nothing waits, and rewritten
// with the live records (a new file renamed over it) when the dead ones outnumber the bound.
//
// A file cut or damaged is read up to the damage: the whole file is renamed aside
// ("publish.spool.damaged-20261210T140709Z"), a new one holds the records read, and a note says so.
// Not thread-safe.
class TPublishSpool {
public:
    TPublishSpool() = default;
    ~TPublishSpool();
    TPublishSpool(const TPublishSpool&) = delete;
    TPublishSpool& operator=(const TPublishSpool&) = delete;

    // Opens or creates the file and reads the items it holds, in order. False, with error(), when it
    // cannot be read or written; notes() then says nothing more. `compactAbove` is the number of dead
    // records that makes the file be rewritten.
    bool open(const std::string& path, size_t compactAbove, std::vector<TQueuedItem>& items);
    bool isOpen() const { return FFd >= 0; }
    const std::string& path() const { return FPath; }
    const std::string& error() const { return FError; }
    // What the operator should know: damage found at open, a write that failed. Taken once.
    std::vector<std::string> takeNotes();
    bool notesPending() const { return !FNotes.empty(); }

    // Appends one reading or event (marks are not kept).
    void append(const TQueuedItem& item);
    // The last `live` records are still waiting: empties or rewrites the file when that is due.
    void settle(size_t live);
    size_t records() const { return FRecords; }

    // The payload of one item, and back; false for a payload that is not one (tests).
    static size_t encode(const TQueuedItem& item, unsigned char* out);
    static bool decode(const unsigned char* data, size_t size, TQueuedItem& item);
    static constexpr size_t HeaderSize = 16;
    static constexpr size_t MaxPayload = 128;

private:
    bool writeAll(int fd, const unsigned char* data, size_t size);
    void fail(const std::string& what);
    void rewrite(size_t dead);

    std::string FPath, FError;
    std::vector<std::string> FNotes;
    int FFd = -1;
    size_t FRecords = 0;
    size_t FCompactAbove = 0;
};
