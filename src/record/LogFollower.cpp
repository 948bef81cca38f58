#include "record/LogFollower.h"

#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

namespace {

class TFd {
public:
    explicit TFd(const QString& fileName)
    {
        const QByteArray name = QFile::encodeName(fileName);
        do
            FFd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        while (FFd < 0 && errno == EINTR);
    }
    ~TFd()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int fd() const { return FFd; }

    // Reads up to `size` bytes at `offset`; fewer at the end of the file, -1 on an error.
    ssize_t readAt(char* to, size_t size, int64_t offset) const
    {
        size_t done = 0;
        while (done < size) {
            const ssize_t n =
                ::pread(FFd, to + done, size - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return -1;
            if (n == 0)
                break;
            done += static_cast<size_t>(n);
        }
        return static_cast<ssize_t>(done);
    }

private:
    int FFd = -1;
};

constexpr size_t PieceSize = 1 << 20;

} // namespace

TLogFollower::TLogFollower(const QString& fileName, int64_t offset, const TOptions& options, QObject* parent)
    : QObject(parent), FFileName(fileName), FOffset(std::max<int64_t>(offset, 0)), FOptions(options)
{}

TLogFollower::~TLogFollower() = default;

bool TLogFollower::stamp(const QString& fileName, TStamp& out)
{
    struct stat st {};
    if (::stat(QFile::encodeName(fileName).constData(), &st) != 0)
        return false;
    out.size = st.st_size;
    out.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    out.inode = st.st_ino;
    out.device = st.st_dev;
    return true;
}

void TLogFollower::start()
{
    if (FFollowing)
        return;
    FFollowing = true;
    stamp(FFileName, FSeen);
    bool watched = false;
    if (FOptions.watch) {
        FWatcher = new QFileSystemWatcher(this);
        watched = FWatcher->addPath(FFileName);
        connect(FWatcher, &QFileSystemWatcher::fileChanged, this, [this] {
            // A file replaced by a rename leaves the watch on the old one: watch the name again.
            if (FWatcher && !FWatcher->files().contains(FFileName))
                FWatcher->addPath(FFileName);
            check();
        });
    }
    const bool poll = FOptions.poll == TPoll::Always
                      || (FOptions.poll == TPoll::Auto && (!watched || OnNetworkFileSystem(FFileName)));
    if (poll && FOptions.pollMs > 0) {
        FPoll = new QTimer(this);
        FPoll->setInterval(FOptions.pollMs);
        connect(FPoll, &QTimer::timeout, this, &TLogFollower::poll);
        FPoll->start();
    }
    check(); // what came between the reading and now
}

void TLogFollower::stop()
{
    FFollowing = false;
    // Later: stop() may be called from the watcher's or the poll's own signal.
    if (FWatcher)
        FWatcher->deleteLater();
    FWatcher = nullptr;
    if (FPoll)
        FPoll->deleteLater();
    FPoll = nullptr;
}

bool TLogFollower::polling() const
{
    return FPoll != nullptr;
}

// Only the file's size, time and inode: it is read when one of them changed.
void TLogFollower::poll()
{
    TStamp now;
    if (!stamp(FFileName, now) || !(now == FSeen))
        check();
}

void TLogFollower::check()
{
    if (!FFollowing)
        return;
    const QString name = QFileInfo(FFileName).fileName();
    TFd file(FFileName);
    struct stat st {};
    if (file.fd() < 0 || ::fstat(file.fd(), &st) != 0) {
        if (errno == ENOENT)
            restart(tr("%1 went away").arg(name));
        return; // unreadable for now: tried again at the next change
    }
    if (FSeen.size >= 0 && (st.st_ino != FSeen.inode || st.st_dev != FSeen.device)) {
        restart(tr("%1 was replaced: read again from the start").arg(name));
        return;
    }
    if (st.st_size < FOffset) {
        restart(tr("%1 shrank: read again from the start").arg(name));
        return;
    }
    stamp(FFileName, FSeen);
    FSeen.inode = st.st_ino;
    FSeen.device = st.st_dev;
    QByteArray lines;
    int64_t at = FOffset;
    QByteArray piece;
    while (at < st.st_size) {
        piece.resize(static_cast<qsizetype>(std::min<int64_t>(PieceSize, st.st_size - at)));
        const ssize_t n = file.readAt(piece.data(), static_cast<size_t>(piece.size()), at);
        if (n <= 0)
            break;
        piece.truncate(n);
        lines += piece;
        at += n;
    }
    const qsizetype end = lines.lastIndexOf('\n');
    if (end < 0)
        return;
    lines.truncate(end + 1);
    FOffset += lines.size();
    emit appended(lines);
}

void TLogFollower::restart(const QString& why)
{
    stop();
    emit restarted(why);
}

int64_t LogLinesEnd(const QString& fileName, int64_t lines)
{
    TFd file(fileName);
    if (file.fd() < 0)
        return -1;
    std::vector<char> piece(PieceSize);
    int64_t at = 0;
    while (lines > 0) {
        const ssize_t n = file.readAt(piece.data(), piece.size(), at);
        if (n < 0)
            return -1;
        if (n == 0)
            return at;
        const char* p = piece.data();
        const char* end = p + n;
        while (lines > 0) {
            const void* found = std::memchr(p, '\n', static_cast<size_t>(end - p));
            if (!found)
                break;
            p = static_cast<const char*>(found) + 1;
            --lines;
        }
        at += lines > 0 ? n : p - piece.data();
    }
    return at;
}

bool OnNetworkFileSystem(const QString& fileName)
{
    struct statfs fs {};
    if (::statfs(QFile::encodeName(fileName).constData(), &fs) != 0)
        return false;
    switch (static_cast<uint32_t>(fs.f_type)) {
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x65735546: // FUSE
    case 0x01021997: // 9P
    case 0x564C:     // NCP
    case 0x73757245: // Coda
    case 0x5346414F: // AFS
    case 0x47504653: // GPFS
    case 0x0BD00BD0: // Lustre
    case 0x00C36400: // Ceph
        return true;
    default: return false;
    }
}
