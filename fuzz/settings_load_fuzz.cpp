// Arbitrary file content through Load then Save. Beyond "no crash": a load that fails never leads to a
// write, and a successful save reloads to the same port name.
#include "FuzzCheck.h"
#include "settings/SettingParams.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string folder()
{
    static const std::string dir = [] {
        char templ[] = "/tmp/velmora-fuzz-XXXXXX";
        if (!mkdtemp(templ))
            abort();
        const std::string made(templ);
        if (mkdir((made + "/no-sysfs").c_str(), 0700) != 0) // an empty port inventory
            abort();
        return made;
    }();
    return dir;
}

std::string readAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string base = folder() + "/SensorSettings";
    const std::string file = base + ".xml";
    const std::string content(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream f(file, std::ios::binary | std::ios::trunc);
        f << content;
    }
    TSettingParams params(base, "Sensor\\Settings");
    params.SetPortListRoot(folder() + "/no-sysfs");
    const int32_t loaded = params.Load();
    params.ComPort = "ttyUSB7";
    const int32_t saved = params.Save();
    if (loaded != 0)
        check(readAll(file) == content, "a file that failed to load was written");
    if (saved == 0) {
        TSettingParams again(base, "Sensor\\Settings");
        again.SetPortListRoot(folder() + "/no-sysfs");
        check(again.Load() == 0, "a saved file does not load");
        check(again.ComPort == "ttyUSB7", "a saved file reloads to another port");
    }
    return 0;
}
