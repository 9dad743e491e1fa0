#pragma once

#include "link/BasNumber.h"
#include "link/LinkInterfaces.h"
#include "link/PortBackend.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace vardel {

// Try counts of the busy waits. They are counts of port reads, not times.
inline constexpr int kReadyTries = 19999;      // status reads per card access wait
inline constexpr long kCompletionTries = 149999; // register reads per send/reply wait
inline constexpr int kResetPulseReads = 1001;
inline constexpr int kResetSettleReads = 501;

// Models of the KX family, as MeterModel holds them.
inline constexpr std::int16_t kModelKX2 = 0;
inline constexpr std::int16_t kModelKX3 = 1;
inline constexpr std::int16_t kModelKX4 = 2;

// Link state and the card and meter routines. One instance lives for the whole
// run and is handed by reference to every window that talks to the meter.
class Module1 {
public:
    explicit Module1(PortBackend& port);

    // --- link state (defaults are those of a missing settings file) ---
    std::int16_t CardAddress = 832;
    std::int16_t CardCommandPort = 833;
    std::int16_t MasterAddress = 0;
    std::int16_t MeterAddress = 2;
    std::int16_t MeterModel = kModelKX3;
    std::int16_t BaudCode = 4;
    std::int16_t TransmitCheck = 1;
    std::array<std::int16_t, 3> RegBase{585, 633, 3801};
    RxBuffer RxBuf{};

    void setCardAddress(std::int16_t address); // also sets CardCommandPort

    void setErrorWindows(ErrorWindows* windows) { m_errors = windows; }
    void setControls(const LinkControls* controls) { m_controls = controls; }
    void setListener(LinkListener* listener) { m_listener = listener; }
    ErrorWindows* errorWindows() const { return m_errors; }
    // A stop request: once `flag` is not 0 every wait fails at once, as a
    // time-out would, so no exchange goes on. The command line's signal
    // handler sets it (Ctrl+C).
    void setStopFlag(const std::atomic<int>* flag) { m_stop = flag; }
    PortBackend& port() { return m_port; }

    // --- card register access ---
    std::int16_t CardWaitReady();
    void CardWriteReg(std::int16_t reg, std::int16_t value);
    std::int16_t CardReadReg(std::int16_t reg);
    std::uint8_t ReadCardStatus(); // one raw read of the status byte

    // --- card set-up ---
    void CardSetLink();
    void WaitSendDone(std::int16_t& flag);
    void WaitReplyDone(std::int16_t& flag);
    // "Reset karty": the reset pulse on the command port; returns the last
    // status byte read, which is what "Status karty" ends up showing.
    std::uint8_t CardReset();

    // --- meter exchanges ---
    void ReadConfigReg(std::int16_t r, float& value, std::int16_t& flag);
    void RequestMeasureBlock(std::int16_t& flag);
    // Copies the reply payload into RxBuf(1..n). Returns the flag: 1 when the
    // card reports a length that does not fit RxBuf (nothing is read and the
    // receive error window is shown). count, when given, receives n (which may
    // be 0 or negative: then nothing was read).
    std::int16_t FetchReply(int* count = nullptr);
    void Kx_Reg_Write(std::int16_t r, float value);
    void WaitWriteReply(std::int16_t& flag);
    void SendEepromStore();
    void SendMeterReset();

    // Meter address of configuration register r of the selected model.
    std::uint16_t ConfigRegAddress(std::int16_t r) const;
    // Bytes of live values asked for by RequestMeasureBlock for the model.
    static std::uint8_t MeasureBlockLength(std::int16_t model);

private:
    void WaitRegister128(std::int16_t reg, std::int16_t& flag);
    void ClearBufferPositions();
    // Steps 1-6 of the common exchange (and 7-8 when a reply is expected).
    std::int16_t Exchange(const std::uint8_t* body, int length, bool expectReply);
    void notify(LinkEvent event, const std::uint8_t* bytes = nullptr, std::size_t n = 0);
    bool stopRequested() const { return m_stop && m_stop->load(std::memory_order_relaxed) != 0; }

    PortBackend& m_port;
    ErrorWindows* m_errors = nullptr;
    const LinkControls* m_controls = nullptr;
    LinkListener* m_listener = nullptr;
    const std::atomic<int>* m_stop = nullptr;
};

// Text of a byte or port as the main window shows it: uppercase hexadecimal,
// no leading zeros, then "h" (4 gives "4h", 832 gives "340h").
std::string hexText(int value);

} // namespace vardel
