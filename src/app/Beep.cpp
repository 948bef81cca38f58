#include "app/Beep.h"

#include <QApplication>

#include <fcntl.h>
#include <linux/kd.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

BeepFn& beepOverride()
{
    static BeepFn fn;
    return fn;
}

// KDMKTONE takes the period in clock ticks of the PC timer (low 16 bits) and the length in ms (high 16).
bool consoleTone(int frequencyHz, int durationMs)
{
    constexpr int timerClock = 1193180;
    if (frequencyHz <= 0 || durationMs <= 0)
        return false;
    for (const char* device : {"/dev/console", "/dev/tty0"}) {
        const int fd = ::open(device, O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const unsigned long arg = (static_cast<unsigned long>(durationMs & 0xFFFF) << 16)
                                  | static_cast<unsigned long>((timerClock / frequencyHz) & 0xFFFF);
        const bool ok = ::ioctl(fd, KDMKTONE, arg) == 0;
        ::close(fd);
        if (ok)
            return true;
    }
    return false;
}

} // namespace

void Beep(int frequencyHz, int durationMs)
{
    if (beepOverride()) {
        beepOverride()(frequencyHz, durationMs);
        return;
    }
    if (!consoleTone(frequencyHz, durationMs))
        QApplication::beep();
}

void SetBeepFunction(BeepFn beep)
{
    beepOverride() = std::move(beep);
}
