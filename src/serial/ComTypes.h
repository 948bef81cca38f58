#pragma once
#include <cstdint>
#include <initializer_list>

// A set of enumeration members stored as bits (bit n for ordinal n).
template <typename E, typename Bits = uint16_t> class TEnumSet {
public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> members)
    {
        for (E m : members)
            bits_ |= bit(m);
    }
    static constexpr TEnumSet fromBits(Bits b)
    {
        TEnumSet s;
        s.bits_ = b;
        return s;
    }
    constexpr Bits bits() const { return bits_; }
    constexpr bool contains(E m) const { return (bits_ & bit(m)) != 0; }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr TEnumSet& insert(E m)
    {
        bits_ |= bit(m);
        return *this;
    }
    constexpr TEnumSet& erase(E m)
    {
        bits_ &= static_cast<Bits>(~bit(m));
        return *this;
    }
    constexpr bool operator==(const TEnumSet&) const = default;

private:
    static constexpr Bits bit(E m) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(m)); }
    Bits bits_ = 0;
};

enum TBaudRate : uint8_t {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TSyncMethod : uint8_t { smThreadSync, smWindowSync, smNone };

enum TComEvent : uint8_t { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full };
using TComEvents = TEnumSet<TComEvent>;
// The order in which the events of one driver report are processed.
inline constexpr TComEvent ComEventRaiseOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                                   evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};
inline constexpr TComEvents AllComEvents{evRxChar, evTxEmpty, evRxFlag, evRing, evBreak,
                                         evCTS,    evDSR,     evError,  evRLSD, evRx80Full};

enum TComError : uint8_t { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
using TComErrors = TEnumSet<TComError>;

enum TLineSignal : uint8_t { lsCTS, lsDSR, lsRing, lsRLSD };
using TLineSignals = TEnumSet<TLineSignal, uint8_t>;

// Driver event mask bits (the values the driver reports).
namespace ComMask {
inline constexpr uint32_t RxChar = 0x0001, RxFlag = 0x0002, TxEmpty = 0x0004, CTS = 0x0008, DSR = 0x0010, RLSD = 0x0020,
                          Break = 0x0040, Err = 0x0080, Ring = 0x0100, Rx80Full = 0x0400;
}
uint32_t EventsToMask(TComEvents events);
TComEvents MaskToEvents(uint32_t mask);

// Driver error flags.
namespace ComErr {
inline constexpr uint32_t RxOver = 0x0001, Overrun = 0x0002, RxParity = 0x0004, Frame = 0x0008, Break = 0x0010,
                          TxFull = 0x0100, IOE = 0x0400, Mode = 0x8000;
}
// Modem status bits.
namespace ComModem {
inline constexpr uint32_t CTS = 0x0010, DSR = 0x0020, Ring = 0x0040, RLSD = 0x0080;
}

// Bits per second of a baud-rate member (0 for brCustom).
int32_t BaudRateValue(TBaudRate rate);
