// The receive path of TSensor: framing, classification and the parsers of every line kind.
#include "sensor/SensorNumbers.h"
#include "sensor/SensorObjects.h"

using SensorNumbers::toDouble;
using SensorNumbers::toInt32;

void TSensor::receiveBytes(std::string_view chunk)
{
    const char* p = chunk.data();
    const char* const end = p + chunk.size();
    while (p < end) {
        const char* q = p;
        while (q < end && *q != SensorLineEnd && *q != SensorLineStart)
            ++q;
        if (q != p && !FLineOverflow) {
            const size_t count = static_cast<size_t>(q - p);
            if (FReplyPos > 0) { // text left by a parse and continued without an LF: keep only the rest
                FReplyText.erase(0, FReplyPos);
                FReplyPos = 0;
            }
            if (FReplyText.size() + count > MaxLineLength) {
                FReplyText.clear();
                FLineOverflow = true;
            } else {
                FReplyText.append(p, count);
            }
        }
        if (q == end)
            break;
        if (*q == SensorLineStart) {
            FLineStarted = true;
            FReplyText.clear();
            FReplyPos = 0;
            FLineOverflow = false;
        } else if (FLineStarted) {
            endLine();
        }
        p = q + 1;
    }
}

void TSensor::endLine()
{
    if (FLineOverflow) { // an over-long line: its text is gone, it has no kind
        FLineOverflow = false;
        FReplyKind = ReplyKind::Unknown;
        return;
    }
    ProcessReply();
}

void TSensor::ProcessReply()
{
    FReplyKind = ClassifyReply();
    if (FReplyKind != ReplyKind::Unknown)
        FKnownKind = FReplyKind;
    // A value that does not convert ends the line's processing silently.
    switch (FReplyKind) {
    case ReplyKind::Concentration:
        if (ParseConcentrationReply())
            FConcentrationTime = FClock->now();
        break;
    case ReplyKind::Channels:
        if (ParseChannelsReply())
            FChannelsTime = FClock->now();
        break;
    case ReplyKind::C13: ParseReplyC13(); break;
    case ReplyKind::C45: ParseReplyC45(); break;
    case ReplyKind::E: ParseReplyE(); break;
    case ReplyKind::O: ParseReplyO(); break;
    case ReplyKind::D: ParseReplyD(); break;
    case ReplyKind::SettingsMode:
        if (ParseSettingsModeReply())
            CheckFirmwareVersion();
        break;
    case ReplyKind::UserInterfaceMode: ParseUserInterfaceModeReply(); break;
    case ReplyKind::A: ParseReplyA(); break;
    case ReplyKind::SettingPots: StoreSettingPotsLine(); break;
    default: break;
    }
}

int32_t TSensor::ClassifyReply() const
{
    const std::string_view t = ReplyText();
    // Characters past the end read as NUL, which matches no condition: short lines are Unknown.
    const auto at = [&t](size_t i) { return i < t.size() ? t[i] : '\0'; };
    const auto digitIn = [](char c, char low, char high) { return c >= low && c <= high; };
    const char second = at(1);
    const bool thirdIsSpace = at(2) == ' ';
    switch (at(0)) {
    case 'N':
        if (second == ' ')
            return ReplyKind::Concentration;
        if (digitIn(second, '1', '5') && thirdIsSpace)
            return ReplyKind::Channels;
        return ReplyKind::Unknown;
    case 'C':
        if (digitIn(second, '1', '3') && thirdIsSpace)
            return ReplyKind::C13;
        if (digitIn(second, '4', '5') && thirdIsSpace)
            return ReplyKind::C45;
        return ReplyKind::Unknown;
    case 'E': return digitIn(second, '1', '5') && thirdIsSpace ? ReplyKind::E : ReplyKind::Unknown;
    case 'O': return digitIn(second, '1', '5') && thirdIsSpace ? ReplyKind::O : ReplyKind::Unknown;
    case 'D': return second == ' ' ? ReplyKind::D : ReplyKind::Unknown;
    case 'X': return second == ' ' ? ReplyKind::SettingsMode : ReplyKind::Unknown;
    case 'U': return second == ' ' ? ReplyKind::UserInterfaceMode : ReplyKind::Unknown;
    case 'A': return second == ' ' ? ReplyKind::A : ReplyKind::Unknown;
    case 'R':
    case 'S': return ReplyKind::SettingPots;
    default: return ReplyKind::Unknown;
    }
}

// Field splitting. A field is the text up to the first space, or all the rest when no space is left
// (so the last value repeats into every further field). A field is removed only after it converted,
// with its space; the last value of a line and any values past the field count stay in FReplyText.

void TSensor::skipPrefix(size_t count)
{
    FReplyPos += count; // ClassifyReply has seen these characters
}

std::string_view TSensor::peekField(size_t& advance) const
{
    const std::string_view rest = ReplyText();
    const size_t space = rest.find(' ');
    if (space == std::string_view::npos) {
        advance = 0;
        return rest;
    }
    advance = space + 1;
    return rest.substr(0, space);
}

bool TSensor::nextInt(int32_t& field)
{
    size_t advance = 0;
    if (!toInt32(peekField(advance), field))
        return false;
    FReplyPos += advance;
    return true;
}

bool TSensor::nextDouble(double& field)
{
    size_t advance = 0;
    if (!toDouble(peekField(advance), field))
        return false;
    FReplyPos += advance;
    return true;
}

bool TSensor::nextText(std::string& field)
{
    size_t advance = 0;
    field.assign(peekField(advance));
    FReplyPos += advance;
    return true;
}

bool TSensor::complete()
{
    FReplyComplete = true;
    return true;
}

bool TSensor::ParseConcentrationReply()
{
    auto& r = FConcentration;
    skipPrefix(2);
    return nextDouble(r.SampleConc1) && nextDouble(r.SampleConc2) && nextDouble(r.SampleConc3)
           && nextDouble(r.OstrelConc1) && nextDouble(r.OstrelConc2) && nextInt(r.Temperature) && nextDouble(r.Pressure)
           && nextInt(r.Humidity) && complete();
}

bool TSensor::ParseChannelsReply()
{
    auto& r = FChannels;
    skipPrefix(1);
    if (!(nextInt(r.Channel) && nextInt(r.Sample) && nextInt(r.Reference) && nextInt(r.VoltagePWM)))
        return false;
    size_t advance = 0;
    const std::string_view text = peekField(advance);
    if (!toDouble(text, r.Concentration))
        return false;
    if (FNewFirmware == 1)
        r.ConcentrationFlag = text.find('+') != std::string_view::npos;
    else
        r.ConcentrationFlag = -ConcentrationFlagLimit < r.Concentration && r.Concentration < ConcentrationFlagLimit;
    FReplyPos += advance;
    return nextInt(r.Temperature) && nextDouble(r.Pressure) && complete();
}

bool TSensor::ParseReplyC13()
{
    auto& r = FReplyC13;
    skipPrefix(1);
    return nextInt(r.Index) && nextDouble(r.Field2) && nextDouble(r.Field3) && nextDouble(r.Field4)
           && nextDouble(r.Field5) && nextDouble(r.Field6) && nextDouble(r.Field7) && nextInt(r.Field8)
           && nextInt(r.Field9) && nextInt(r.Field10) && nextInt(r.Field11) && complete();
}

bool TSensor::ParseReplyC45()
{
    auto& r = FReplyC45;
    skipPrefix(1);
    return nextInt(r.Index) && nextDouble(r.Field2) && nextDouble(r.Field3) && nextDouble(r.Field4) && nextInt(r.Field5)
           && nextInt(r.Field6) && complete();
}

bool TSensor::ParseReplyE()
{
    auto& r = FReplyE;
    skipPrefix(1);
    return nextInt(r.Index) && nextInt(r.Field2) && nextInt(r.Field3) && nextDouble(r.Field4) && nextInt(r.Field5)
           && nextDouble(r.Field6) && nextDouble(r.Field7) && nextDouble(r.Field8) && nextDouble(r.Field9)
           && nextInt(r.Field10) && nextInt(r.Field11) && complete();
}

bool TSensor::ParseReplyO()
{
    auto& r = FReplyO;
    skipPrefix(1);
    return nextInt(r.Index) && nextDouble(r.Field2) && nextDouble(r.Field3) && nextInt(r.Field4) && nextDouble(r.Field5)
           && nextDouble(r.Field6) && nextInt(r.Field7) && complete();
}

bool TSensor::ParseReplyD()
{
    auto& r = FReplyD;
    skipPrefix(2);
    return nextInt(r.Field1) && nextInt(r.Field2) && nextInt(r.Field3) && nextInt(r.Field4) && nextInt(r.Field5)
           && nextInt(r.Field6) && nextInt(r.Field7) && nextInt(r.Field8) && complete();
}

bool TSensor::ParseSettingsModeReply()
{
    auto& r = FSettingsMode;
    skipPrefix(2);
    if (!(nextText(r.Version) && nextInt(r.Field2)))
        return false;
    int32_t bits = 0;
    if (!nextInt(bits))
        return false;
    const auto word = static_cast<uint32_t>(bits);
    for (size_t b = 0; b < r.Bits.size(); ++b)
        r.Bits[b] = (word >> b) & 1u ? 1 : 0;
    return nextInt(r.Field4) && nextInt(r.Field5) && nextInt(r.Field6) && complete();
}

bool TSensor::CheckFirmwareVersion()
{
    // "major.minor"; without a point the major part is empty and fails.
    const std::string_view version = FSettingsMode.Version;
    const size_t point = version.find('.');
    if (point == std::string_view::npos)
        return false;
    int32_t major = 0;
    int32_t minor = 0;
    if (!toInt32(version.substr(0, point), major) || !toInt32(version.substr(point + 1), minor))
        return false;
    FNewFirmware = major == 1 && minor > 6 ? 1 : 0;
    return true;
}

bool TSensor::ParseUserInterfaceModeReply()
{
    auto& r = FUserInterfaceMode;
    skipPrefix(2);
    if (!(nextInt(r.Field1) && nextText(r.Field2) && nextText(r.Field3)))
        return false;
    if (FNewFirmware == 1) {
        size_t advance = 0;
        const std::string_view text = peekField(advance);
        r.Letter.assign(SensorNumbers::invalidLowerCaseLetter(text) ? std::string_view("a") : text);
        FReplyPos += advance;
    } else {
        r.Letter.assign("a"); // old firmware sends no letter: nothing is read
    }
    return nextInt(r.Field5) && complete();
}

bool TSensor::ParseReplyA()
{
    auto& r = FReplyA;
    skipPrefix(2);
    return nextInt(r.Field1) && nextInt(r.Field2) && nextInt(r.Field3) && nextInt(r.Field4) && nextDouble(r.Field5)
           && complete();
}

void TSensor::StoreSettingPotsLine()
{
    FSettingPots[FPotsIndex].assign(ReplyText());
    if (FPotsIndex == TSettingPotsStructure::Count)
        FReplyComplete = true;
    else
        ++FPotsIndex;
}
