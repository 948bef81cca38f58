// Arbitrary bytes into the sensor's receive path, in chunks that end at each CR. Beyond "no crash":
// the reply kind is always a known code, a chunk without a CR changes no record, and a chunk that ends
// a line changes at most the record of the kind that line was classified as.
#include "FuzzCheck.h"
#include "sensor/SensorObjects.h"

#include <cstdint>
#include <cstring>

namespace {

struct Records {
    TConcentrationModeStructure concentration;
    TChannelsModeStructure channels;
    TReplyC13Structure c13;
    TReplyC45Structure c45;
    TReplyEStructure e;
    TReplyOStructure o;
    TReplyDStructure d;
    TSettingsModeStructure settings;
    int32_t newFirmware;
    TUserInterfaceModeStructure ui;
    TReplyAStructure a;
    TSettingPotsStructure pots;
    int32_t potsIndex;

    explicit Records(const TSensor& s)
        : concentration(s.Concentration()), channels(s.Channels()), c13(s.ReplyC13()), c45(s.ReplyC45()), e(s.ReplyE()),
          o(s.ReplyO()), d(s.ReplyD()), settings(s.SettingsMode()), newFirmware(s.NewFirmware()),
          ui(s.UserInterfaceMode()), a(s.ReplyA()), pots(s.SettingPots()), potsIndex(s.PotsIndex())
    {}

    // Which kinds' records differ between two snapshots, as a bit set over kind codes.
    static uint32_t changedKinds(const Records& x, const Records& y)
    {
        uint32_t k = 0;
        auto mark = [&](bool differs, int kind) { k |= differs ? (1u << kind) : 0; };
        mark(!(x.concentration == y.concentration), ReplyKind::Concentration);
        mark(!(x.channels == y.channels), ReplyKind::Channels);
        mark(!(x.c13 == y.c13), ReplyKind::C13);
        mark(!(x.c45 == y.c45), ReplyKind::C45);
        mark(!(x.e == y.e), ReplyKind::E);
        mark(!(x.o == y.o), ReplyKind::O);
        mark(!(x.d == y.d), ReplyKind::D);
        mark(!(x.settings == y.settings) || x.newFirmware != y.newFirmware, ReplyKind::SettingsMode);
        mark(!(x.ui == y.ui), ReplyKind::UserInterfaceMode);
        mark(!(x.a == y.a), ReplyKind::A);
        mark(!(x.pots == y.pots) || x.potsIndex != y.potsIndex, ReplyKind::SettingPots);
        return k;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TSensor sensor;
    const char* bytes = reinterpret_cast<const char*>(data);
    size_t pos = 0;
    while (pos < size) {
        const void* cr = memchr(bytes + pos, '\r', size - pos);
        const size_t end = cr ? static_cast<size_t>(static_cast<const char*>(cr) - bytes) + 1 : size;
        const Records before(sensor);
        sensor.receiveBytes(bytes + pos, end - pos);
        const Records after(sensor);
        const int32_t kind = sensor.ReplyKind();
        check(kind >= 0 && kind <= 11, "reply kind out of range");
        const uint32_t changed = Records::changedKinds(before, after);
        if (!cr)
            check(changed == 0, "a record changed without a line end");
        else
            check((changed & ~(1u << kind)) == 0, "a record of another kind changed");
        check(sensor.ReplyText().size() <= TSensor::MaxLineLength, "line buffer beyond its bound");
        pos = end;
    }
    return 0;
}
