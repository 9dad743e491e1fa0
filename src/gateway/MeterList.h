#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace vardel {

// The meters a gateway serves, one line each, as an administrator types them:
//
//   # adres  [model=KX-3] [baud=19200] [transmit-check=1] [response-time=20]
//   1
//   2 model=KX-3 baud=9600 response-time=80
//
// The address is the unit identifier clients ask for (1..247); a field left
// out takes the command line's value (or Vardel.cfg's), and a model left out
// is told by the meter's memory. "#" starts a comment, blank lines are
// ignored, fields are separated by spaces or tabs.
struct MeterListEntry {
    int line = 0;
    std::int16_t address = 0;
    std::optional<std::int16_t> model;
    std::optional<std::int16_t> baudCode;
    std::optional<std::int16_t> transmitCheck;
    std::optional<int> responseTimeMs;
};

// The largest list file read: 247 meters with every field and a comment fit
// in a few kilobytes.
inline constexpr qint64 kMeterListMaxBytes = 64 * 1024;

// Modbus unit identifiers a meter can be served under (0 is the serial
// broadcast, 248..255 are reserved).
inline constexpr int kFirstUnit = 1;
inline constexpr int kLastUnit = 247;

// Parses the text of a list. On a mistake: false, errorLine the line (0 for
// the file as a whole) and error a Polish reason; entries is then empty.
bool parseMeterList(const QString& text, std::vector<MeterListEntry>& entries, int& errorLine, QString& error);

// Reads and parses the list file at path (a regular file of at most
// kMeterListMaxBytes, UTF-8). On a mistake: false and a Polish message that
// begins with "path:line: " (or "path: " for the file as a whole).
bool readMeterList(const QString& path, std::vector<MeterListEntry>& entries, QString& error);

} // namespace vardel
