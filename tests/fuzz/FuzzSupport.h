#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace vardel::fuzz {

// The fuzzer's input as a QByteArray, without a copy.
QByteArray bytesOf(const std::uint8_t* data, std::size_t size);

// The file readers take a path: this writes the bytes to a scratch file (in a
// folder of this process, removed at exit) and returns its path.
QString scratchFile(const QByteArray& bytes);

// A reader that breaks its own promise is a finding like a crash.
[[noreturn]] void fail(const char* what, const char* file, int line);

} // namespace vardel::fuzz

#define FUZZ_CHECK(condition) \
    ((condition) ? void() : ::vardel::fuzz::fail(#condition, __FILE__, __LINE__))
