#pragma once

#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

namespace vardel {

// Models of the KX family, as Module1::MeterModel holds them.
inline constexpr std::int16_t kModelKX2 = 0;
inline constexpr std::int16_t kModelKX3 = 1;
inline constexpr std::int16_t kModelKX4 = 2;

// Baud codes 0..5 of the link, as the card and the meters know them.
inline constexpr std::array<int, 6> kBaudRates{1200, 2400, 4800, 9600, 19200, 38400};

// A byte on the wire is ten bits (start, eight data, stop), and the card adds
// two bytes of its own to every frame.
inline constexpr int kWireBitsPerByte = 10;
inline constexpr int kWireFrameBytes = 2;
// How long a frame of `bytes` body bytes takes on the wire at a baud code;
// zero for a code outside 0..5.
std::chrono::nanoseconds wireTime(int bytes, std::int16_t baudCode);

// Registers of a meter's own configuration that decide where and how it
// answers on the network. The meter takes them from its EEPROM when it
// starts; a model that has no register for one (the KX-2 and KX-4 take their
// network address from the front panel) gives -1.
struct MeterLinkRegisters {
    int address = -1;       // „Adres sieciowy miernika”
    int baudCode = -1;      // „Prędkość transmisji (kod)”
    int transmitCheck = -1; // „Kontrola nadawania”
    int responseTime = -1;  // „Czas odpowiedzi miernika [ms]”
};

// What every model's names file calls those registers.
inline constexpr char kLinkAddressName[] = "Adres sieciowy miernika";
inline constexpr char kLinkBaudCodeName[] = "Prędkość transmisji (kod)";
inline constexpr char kLinkTransmitCheckName[] = "Kontrola nadawania";
inline constexpr char kLinkResponseTimeName[] = "Czas odpowiedzi miernika [ms]";
// The longest response time a meter takes from its register.
inline constexpr int kMaxResponseTimeMs = 60000;

// Everything the program knows of one model, in one place for every user:
// the windows, the files, the command line and the simulated meters.
struct MeterModelInfo {
    std::int16_t model;            // kModelKX2 ..
    const char* name;              // "KX-2": what users type and read
    const char* tag;               // "KX2": file extension, names file prefix
    std::int16_t registerCount;    // configuration registers: 64, 100, 255
    std::uint16_t configBase;      // the meter's own address of register 0: 585, 633, 3801
    std::uint8_t measureBlockLength; // bytes of live values in one request: 24, 36, 60
    bool hexRegisterNumbers;       // register numbers shown as "1Fh" (KX-2, KX-4) or "31" (KX-3)
    MeterLinkRegisters link;
};

// The three models in order; nullptr for a number outside them.
std::span<const MeterModelInfo> meterModels();
const MeterModelInfo* meterModelInfo(std::int16_t model);

// Short forms for the common questions; each gives an empty text or 0 for a
// model outside the family.
QString modelNameOf(std::int16_t model);      // "KX-2" (the number itself for others)
QString modelTagOf(std::int16_t model);       // "KX2"
std::int16_t regCountOf(std::int16_t model);  // 64
QString namesFileNameOf(std::int16_t model);  // "KX2_NAME.TXT"
MeterLinkRegisters linkRegistersOf(std::int16_t model);

// "KX-3", "kx3", "KX3" and the like.
std::optional<std::int16_t> modelFromName(const QString& text);
// The model a file's extension (KX2, KX3, KX4) names, if any.
std::optional<std::int16_t> modelOfFileName(const QString& path);
// Register number as messages write it: decimal for the KX-3 ("17"),
// hexadecimal with "h" for the KX-2 and KX-4 ("1Fh"), so "10h" is never read
// as ten.
QString registerLabel(std::int16_t model, int r);

// 1200 for baud code 0 ... 38400 for 5; 0 for any other code.
int baudRateOf(std::int16_t baudCode);
std::optional<std::int16_t> baudCodeOfRate(int rate);

} // namespace vardel
