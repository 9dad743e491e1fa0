// A load of Modbus TCP clients whose own cost is small, so that what it
// measures is the gateway: one thread and one blocking socket a client, raw
// frames, no interpreter. Each client reads the measured values (function 04,
// registers 0-23) of every unit in turn, every PERIOD seconds, all clients
// on the same schedule (the harshest: their requests arrive together).
//
//   vardel_serve_load HOST PORT CLIENTS SECONDS PERIOD UNITS
//   e.g. vardel_serve_load 127.0.0.1 1502 20 60 0.1 1-32
//
// Prints one JSON line: requests, errors, p50/p99/max latency in ms, the
// largest age of a served value (registers 20-21) in ms.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRegisters = 24;
constexpr int kAgeRegister = 20;

struct Options {
    std::string host;
    std::uint16_t port = 0;
    int clients = 0;
    double seconds = 0;
    double period = 0;
    std::vector<std::uint8_t> units;
};

struct Result {
    std::vector<std::int64_t> latencies; // ns
    long errors = 0;
    std::uint32_t oldest = 0;
};

bool parseUnits(const std::string& text, std::vector<std::uint8_t>& units)
{
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(',', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string part = text.substr(at, end - at);
        const std::size_t dash = part.find('-');
        const int first = std::atoi(part.c_str());
        const int last = dash == std::string::npos ? first : std::atoi(part.c_str() + dash + 1);
        if (first < 1 || last > 247 || last < first)
            return false;
        for (int u = first; u <= last; ++u)
            units.push_back(static_cast<std::uint8_t>(u));
        at = end + 1;
    }
    return !units.empty();
}

int connectTo(const Options& o)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(o.port);
    const int one = 1;
    timeval timeout{3, 0};
    if (::inet_pton(AF_INET, o.host.c_str(), &address.sin_addr) != 1
        || ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0
        || ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0
        || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool readAll(int fd, std::uint8_t* into, std::size_t size)
{
    while (size > 0) {
        const ssize_t got = ::recv(fd, into, size, 0);
        if (got <= 0)
            return false;
        into += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

std::uint16_t word(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

// One read of registers 0-23 of `unit`: false on any fault of the exchange
// (the connection is unusable then); `answered` false for an exception.
bool readValues(int fd, std::uint16_t transaction, std::uint8_t unit, bool& answered, std::uint32_t& age)
{
    const std::array<std::uint8_t, 12> request{static_cast<std::uint8_t>(transaction >> 8),
                                               static_cast<std::uint8_t>(transaction & 0xFF),
                                               0, 0, 0, 6, unit, 0x04, 0, 0, 0, kRegisters};
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
        return false;
    std::array<std::uint8_t, 7 + 253> reply{};
    if (!readAll(fd, reply.data(), 7))
        return false;
    const std::uint16_t length = word(&reply[4]);
    if (word(&reply[0]) != transaction || word(&reply[2]) != 0 || reply[6] != unit || length < 2 || length > 254
        || !readAll(fd, &reply[7], length - 1u))
        return false;
    answered = reply[7] == 0x04 && length == 3 + 2 * kRegisters && reply[8] == 2 * kRegisters;
    if (answered)
        age = (std::uint32_t{word(&reply[9 + 2 * kAgeRegister])} << 16) | word(&reply[9 + 2 * kAgeRegister + 2]);
    return answered || reply[7] == 0x84;
}

void runClient(const Options& o, Clock::time_point start, Result& result)
{
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.period));
    const Clock::time_point end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.seconds));
    result.latencies.reserve(static_cast<std::size_t>(o.seconds / o.period + 2) * o.units.size());
    int fd = connectTo(o);
    std::uint16_t transaction = 0;
    std::this_thread::sleep_until(start);
    for (Clock::time_point round = start; Clock::now() < end; round += period) {
        for (const std::uint8_t unit : o.units) {
            if (fd < 0 && (fd = connectTo(o)) < 0) {
                ++result.errors;
                continue;
            }
            bool answered = false;
            std::uint32_t age = 0;
            const Clock::time_point sent = Clock::now();
            const bool ok = readValues(fd, ++transaction, unit, answered, age);
            result.latencies.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - sent).count());
            if (!ok) {
                ::close(fd);
                fd = -1;
            }
            if (!answered)
                ++result.errors;
            else
                result.oldest = std::max(result.oldest, age);
        }
        std::this_thread::sleep_until(round + period);
    }
    if (fd >= 0)
        ::close(fd);
}

double percentileMs(const std::vector<std::int64_t>& sorted, double fraction)
{
    if (sorted.empty())
        return 0;
    const auto at = std::min(sorted.size() - 1, static_cast<std::size_t>(static_cast<double>(sorted.size()) * fraction));
    return static_cast<double>(sorted[at]) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (argc != 7 || (o.host = argv[1]).empty() || (o.port = static_cast<std::uint16_t>(std::atoi(argv[2]))) == 0
        || (o.clients = std::atoi(argv[3])) < 1 || (o.seconds = std::atof(argv[4])) <= 0
        || (o.period = std::atof(argv[5])) <= 0 || !parseUnits(argv[6], o.units)) {
        std::fprintf(stderr, "usage: %s HOST PORT CLIENTS SECONDS PERIOD UNITS (e.g. 1-32)\n", argv[0]);
        return 2;
    }
    std::vector<Result> results(static_cast<std::size_t>(o.clients));
    // Every client connected before the first round starts.
    const Clock::time_point start = Clock::now() + std::chrono::milliseconds(200);
    std::vector<std::thread> threads;
    for (Result& r : results)
        threads.emplace_back(runClient, std::cref(o), start, std::ref(r));
    for (std::thread& t : threads)
        t.join();
    std::vector<std::int64_t> all;
    long errors = 0;
    std::uint32_t oldest = 0;
    for (const Result& r : results) {
        all.insert(all.end(), r.latencies.begin(), r.latencies.end());
        errors += r.errors;
        oldest = std::max(oldest, r.oldest);
    }
    std::sort(all.begin(), all.end());
    std::printf("{\"requests\": %zu, \"errors\": %ld, \"p50_ms\": %.3f, \"p99_ms\": %.3f, \"max_ms\": %.3f, "
                "\"oldest_value_ms\": %u}\n",
                all.size(), errors, percentileMs(all, 0.5), percentileMs(all, 0.99), percentileMs(all, 1.0), oldest);
    return 0;
}
