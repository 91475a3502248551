#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>

#include "platform/SerialDevice.h"

namespace zembra {

class TVaComponent;

enum TVaBaudrate {
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
enum TVaParity { paNone, paOdd, paEven, paMark, paSpace };
enum TVaDatabits { db4, db5, db6, db7, db8 };
enum TVaStopbits { sb1, sb15, sb2 };
enum TVaFlowControl { fcNone, fcXonXoff, fcRtsCts, fcDtrDsr };
enum TVaDTRControl { dtrDisable, dtrEnable, dtrHandshake };
enum TVaRTSControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TVaCommOption { coContinueOnXOff, coErrorChar, coNullStrip, coParityCheck, coDsrSensitivity };
enum TVaCommEvent {
    ceBreak,
    ceCts,
    ceDsr,
    ceError,
    ceRing,
    ceRlsd,
    ceRxChar,
    ceTxEmpty,
    ceRxFlag,
    cePErr,
    ceRx80Full,
    ceEvent1,
    ceEvent2
};
enum TVaSyncEvents { seByMethod, seByMessage };
enum TVaThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// A set of enumeration members, one bit per ordinal.
template <typename E>
class TVaSet {
  public:
    constexpr TVaSet() = default;
    constexpr TVaSet(std::initializer_list<E> members) {
        for (E m : members) bits_ |= Bit(m);
    }
    constexpr bool Contains(E m) const { return (bits_ & Bit(m)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr TVaSet& Include(E m) {
        bits_ |= Bit(m);
        return *this;
    }
    constexpr TVaSet& Exclude(E m) {
        bits_ &= ~Bit(m);
        return *this;
    }
    constexpr uint32_t Bits() const { return bits_; }
    constexpr bool operator==(const TVaSet&) const = default;

  private:
    static constexpr uint32_t Bit(E m) { return 1u << static_cast<unsigned>(m); }
    uint32_t bits_ = 0;
};

using TVaCommOptions = TVaSet<TVaCommOption>;
using TVaCommEvents = TVaSet<TVaCommEvent>;

// Mapping tables to the operating system's values (device-control block and event mask).
uint32_t BaudrateValue(TVaBaudrate rate);
uint8_t ParityCode(TVaParity parity);
uint8_t DatabitsValue(TVaDatabits bits);
uint8_t StopbitsCode(TVaStopbits bits);
uint32_t FlowControlBits(TVaFlowControl flow);
uint32_t DTRControlBits(TVaDTRControl control);
uint32_t RTSControlBits(TVaRTSControl control);
uint32_t CommOptionBits(TVaCommOption option);
uint32_t EventMaskOf(TVaCommEvents events);
// The enumeration value of a rate in bits per second; false when no member names it.
bool BaudrateFromValue(uint32_t bitsPerSecond, TVaBaudrate& rate);

// Received bytes handed to OnRxBuf: valid only during the call.
using TVaData = uint8_t;
using PVaData = const TVaData*;

// Events; the first argument is the sender (the port or the buffer that raised it).
using TNotifyEvent = std::function<void(TVaComponent* Sender)>;
using TVaCommErrorEvent = std::function<void(TVaComponent* Sender, uint32_t Errors)>;
using TVaCommRxCharEvent = std::function<void(TVaComponent* Sender, int Count)>;
using TVaCommRxBufEvent = std::function<void(TVaComponent* Sender, PVaData Data, int Count)>;

}  // namespace zembra
