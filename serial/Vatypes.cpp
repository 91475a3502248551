#include "serial/Vatypes.h"

namespace zembra {

namespace {
constexpr uint32_t kBaudrates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                   19200, 38400, 56000, 57600, 115200, 128000, 256000};
constexpr uint32_t kFlowBits[] = {0, DCB_OUTX | DCB_INX, DCB_OUTX_CTS_FLOW | DCB_RTS_HANDSHAKE,
                                  DCB_OUTX_DSR_FLOW | DCB_DTR_HANDSHAKE};
constexpr uint32_t kDtrBits[] = {0, DCB_DTR_ENABLE, DCB_DTR_HANDSHAKE};
constexpr uint32_t kRtsBits[] = {0, DCB_RTS_ENABLE, DCB_RTS_HANDSHAKE, DCB_RTS_TOGGLE};
constexpr uint32_t kOptionBits[] = {DCB_TX_CONTINUE_ON_XOFF, DCB_ERROR_CHAR, DCB_NULL, DCB_PARITY,
                                    DCB_DSR_SENSITIVITY};
constexpr uint32_t kEventBits[] = {EV_BREAK,    EV_CTS,    EV_DSR,     EV_ERR,    EV_RING,
                                   EV_RLSD,     EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_PERR,
                                   EV_RX80FULL, EV_EVENT1, EV_EVENT2};

static_assert(sizeof(kBaudrates) / sizeof(kBaudrates[0]) == br256000 + 1);
static_assert(sizeof(kEventBits) / sizeof(kEventBits[0]) == ceEvent2 + 1);
static_assert(sizeof(kOptionBits) / sizeof(kOptionBits[0]) == coDsrSensitivity + 1);
}  // namespace

uint32_t BaudrateValue(TVaBaudrate rate) {
    return kBaudrates[rate];
}
uint8_t ParityCode(TVaParity parity) {
    return static_cast<uint8_t>(parity);
}
uint8_t DatabitsValue(TVaDatabits bits) {
    return static_cast<uint8_t>(4 + bits);
}
uint8_t StopbitsCode(TVaStopbits bits) {
    return static_cast<uint8_t>(bits);
}
uint32_t FlowControlBits(TVaFlowControl flow) {
    return kFlowBits[flow];
}
uint32_t DTRControlBits(TVaDTRControl control) {
    return kDtrBits[control];
}
uint32_t RTSControlBits(TVaRTSControl control) {
    return kRtsBits[control];
}
uint32_t CommOptionBits(TVaCommOption option) {
    return kOptionBits[option];
}

uint32_t EventMaskOf(TVaCommEvents events) {
    uint32_t mask = 0;
    for (int e = ceBreak; e <= ceEvent2; ++e) {
        if (events.Contains(static_cast<TVaCommEvent>(e))) mask |= kEventBits[e];
    }
    return mask;
}

bool BaudrateFromValue(uint32_t bitsPerSecond, TVaBaudrate& rate) {
    for (int r = br110; r <= br256000; ++r) {
        if (kBaudrates[r] == bitsPerSecond) {
            rate = static_cast<TVaBaudrate>(r);
            return true;
        }
    }
    return false;
}

}  // namespace zembra
