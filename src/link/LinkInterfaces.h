#pragma once

#include <cstdint>
#include <span>

namespace vardel {

// What the link needs from the window layer to report a failed exchange: the
// transmit error window (Form6) and the receive error window (Form7). Both are
// modeless and stay on screen until the user closes them; showing one must
// return at once.
class ErrorWindows {
public:
    virtual ~ErrorWindows() = default;
    virtual void showTransmitError() = 0; // Form6, "Błąd nadawania danych"
    virtual void showReceiveError() = 0;  // Form7, "Błąd odbioru danych"
};

// CardSetLink reads the baud buttons and the transmit check box of the main
// window directly, not the variables behind them. The window implements this;
// without it the link falls back to BaudCode and TransmitCheck.
class LinkControls {
public:
    virtual ~LinkControls() = default;
    // Index 0..5 of the first selected baud button (1200..38400), -1 for none.
    virtual int selectedBaudButton() const = 0;
    // Value of "Kontrola nadawania": 0 unticked, 1 ticked (2 greyed).
    virtual int transmitCheckValue() const = 0;
};

// A bus monitor: told about every step of every exchange, in order. The
// --trace of both programs writes it out (LinkTrace); nothing else depends on it.
enum class LinkEvent {
    RequestSent,   // bytes: the request body; the card reported it sent
    SendTimeout,   // bytes: the request body; never reported sent
    ReplyTimeout,  // no complete reply within the wait
    ReplyRefused,  // reported length refused (too long, or too short); nothing read
    ReplyFetched,  // bytes: the payload copied into RxBuf
    AckReceived,   // the meter acknowledged a write
    AckTimeout,    // no acknowledgement of a write
    // A stop request (Ctrl+C) ended the wait rather than the card or the meter:
    SendStopped,   // bytes: the request body; not yet reported sent
    AnswerStopped, // the wait for the reply or acknowledgement, or the fetch of the reply
};

class LinkListener {
public:
    virtual ~LinkListener() = default;
    virtual void linkEvent(LinkEvent event, std::span<const std::uint8_t> bytes) = 0;
    // An exchange begins: nothing of its request is in the card yet. The bus
    // monitor times the exchange from here.
    virtual void exchangeStarted() {}
};

} // namespace vardel
