// The bytes a Modbus TCP client sends, in the chunks the first byte chooses.
#include "fuzz/FuzzSupport.h"
#include "gateway/ModbusFrame.h"

#include <algorithm>

using namespace vardel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // Chunks of 1..16 bytes, as a socket might hand them over.
    const std::size_t chunk = (data[0] & 0x0F) + 1u;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const std::size_t total = size - 1;

    ModbusFrameReader reader;
    std::size_t at = 0;
    while (at < total && reader.state() != ModbusFrameReader::State::Malformed) {
        const std::size_t wanted = reader.wanted();
        FUZZ_CHECK(wanted > 0 && wanted <= ModbusFrameReader::kMaxFrame);
        const std::size_t taken = reader.feed(bytes + at, std::min(chunk, total - at));
        FUZZ_CHECK(taken > 0 && taken <= wanted);
        at += taken;
        if (reader.state() == ModbusFrameReader::State::Frame) {
            FUZZ_CHECK(reader.wanted() == 0);
            const ModbusRequest request = reader.take();
            // A frame is a function code and at most 252 bytes of data.
            FUZZ_CHECK(request.pdu.size() >= 1 && request.pdu.size() <= 253);
            const QByteArray reply = modbusFrame(request, request.pdu);
            FUZZ_CHECK(static_cast<std::size_t>(reply.size()) == 7 + static_cast<std::size_t>(request.pdu.size()));
        }
    }
    // Once malformed, nothing more is read.
    if (reader.state() == ModbusFrameReader::State::Malformed)
        FUZZ_CHECK(reader.wanted() == 0 && reader.feed(bytes, total) == 0);
    return 0;
}
