#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>
#include <cstdint>

class QFileSystemWatcher;
class QTimer;

// Follows a log file that grows (written by the window or by the service): after each change it reads the
// bytes appended since the last whole line it handed over, and hands over the whole lines among them; a
// line not ended yet waits for its end. The file system's change notification wakes it on a local disk;
// where that does not fire (a network share) it looks at the file's size, time and inode every pollMs while
// it follows. A file that shrank or was replaced (another inode) is not read on: restarted() says so and
// the follower stops, so that its owner reads the file again from the start.
//
//     auto* follower = new TLogFollower(fileName, LogLinesEnd(fileName, linesRead), window);
//     connect(follower, &TLogFollower::appended, window, &Window::addLines);
//     connect(follower, &TLogFollower::restarted, window, &Window::readAgain);
//     follower->start();
class TLogFollower : public QObject {
    Q_OBJECT
public:
    enum class TPoll {
        Auto,   // where notification may not fire: a network file system, or a file that cannot be watched
        Always, //
        Never,  //
    };
    struct TOptions {
        bool watch = true; // file-change notification
        TPoll poll = TPoll::Auto;
        int pollMs = 1000;
    };

    // Follows `fileName` from byte `offset` (the end of the last whole line already read).
    TLogFollower(const QString& fileName, int64_t offset, const TOptions& options, QObject* parent = nullptr);
    TLogFollower(const QString& fileName, int64_t offset, QObject* parent = nullptr)
        : TLogFollower(fileName, offset, TOptions(), parent)
    {}
    ~TLogFollower() override;

    void start();
    void stop();
    bool following() const { return FFollowing; }
    bool polling() const;
    QString fileName() const { return FFileName; }
    int64_t offset() const { return FOffset; }

    // Reads what was appended since the last look; the watcher and the poll call it.
    void check();

signals:
    // Whole lines appended to the file, each with its line end.
    void appended(const QByteArray& lines);
    // The file shrank, was replaced or went away; `why` says which ("run.txt was replaced").
    void restarted(const QString& why);

private:
    struct TStamp {
        int64_t size = -1;
        int64_t mtimeNs = 0;
        uint64_t inode = 0;
        uint64_t device = 0;
        bool operator==(const TStamp&) const = default;
    };
    static bool stamp(const QString& fileName, TStamp& out);
    void poll();
    void restart(const QString& why);

    QString FFileName;
    int64_t FOffset = 0;
    TOptions FOptions;
    TStamp FSeen; // as last read
    bool FFollowing = false;
    QFileSystemWatcher* FWatcher = nullptr;
    QTimer* FPoll = nullptr;
};

// The byte offset just after the first `lines` line ends of a file (its size when it has fewer): where a
// follower goes on after a reader took that many lines. -1 when the file cannot be read.
int64_t LogLinesEnd(const QString& fileName, int64_t lines);
// Whether the file lies on a file system whose change notification may not fire (NFS, SMB, FUSE, ...).
bool OnNetworkFileSystem(const QString& fileName);
