#!/usr/bin/python3
"""The gateway under load, measured rather than asserted: starts
`vardel-cli serve` on the simulated card, lets CLIENTS pymodbus clients each
read every unit's measured values every PERIOD seconds for SECONDS, and prints
p50 and p99 latency of those reads, the server's CPU time per request, the
largest age of a served value and the errors. The simulated card keeps a real
card's pace (serve's default). With KX3_METERS the network is that many KX-3
meters at 19200 baud at addresses 1..N (ADDRESSES defaults to all of them);
without it, the factory network of three.

  bench/serve_latency.py BUILD_DIR [CLIENTS] [SECONDS] [PERIOD] [ADDRESSES] [KX3_METERS]
  e.g. bench/serve_latency.py build-test 20 60 0.1 1-3
       bench/serve_latency.py build-rel 20 60 0.1 1-32 32
"""
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

from pymodbus.client import ModbusTcpClient


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks  # utime + stime


def main():
    build = sys.argv[1]
    clients = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 60
    period = float(sys.argv[4]) if len(sys.argv) > 4 else 0.1
    meters = int(sys.argv[6]) if len(sys.argv) > 6 else 0
    addresses = sys.argv[5] if len(sys.argv) > 5 else (f"1-{meters}" if meters else "1-3")
    units = []
    for part in addresses.split(","):
        a, _, b = part.partition("-")
        units += list(range(int(a), int(b or a) + 1))
    port = free_port()
    with tempfile.TemporaryDirectory() as folder:
        state = os.path.join(folder, "VardelSim.txt")
        if meters:
            with open(state, "w", newline="") as f:
                for a in range(1, meters + 1):
                    f.write(f"[miernik]\r\nmodel=KX-3\r\nadres={a}\r\nbaud=4\r\n")
        started_at = time.monotonic()
        server = subprocess.Popen(
            [os.path.join(build, "bin", "vardel-cli"), "serve", "--addresses", addresses,
             "--sim-state", state, "--listen", f"127.0.0.1:{port}", "--sim-pace", "real",
             "--max-clients", str(clients)],
            stderr=subprocess.PIPE, text=True)
        while "nasłuchuje" not in server.stderr.readline():
            if server.poll() is not None:
                sys.exit("serve did not start")
        start_s = time.monotonic() - started_at
        # The first poll cycle over every meter, before anything is measured.
        time.sleep(min(30.0, 0.15 * len(units)))
        # Its log lines are drained so that a full pipe never holds it up.
        threading.Thread(target=server.stderr.read, daemon=True).start()
        cpu_before = cpu_seconds(server.pid)
        latencies, errors, ages = [], [0], [0]
        lock = threading.Lock()
        end = time.monotonic() + seconds

        def run():
            client = ModbusTcpClient("127.0.0.1", port=port, timeout=3)
            client.connect()
            mine, oldest, failed = [], 0, 0
            next_round = time.monotonic()
            while time.monotonic() < end:
                for unit in units:
                    started = time.perf_counter()
                    response = client.read_input_registers(0, 24, slave=unit)
                    mine.append(time.perf_counter() - started)
                    if response.isError():
                        failed += 1
                    else:
                        oldest = max(oldest, (response.registers[20] << 16) | response.registers[21])
                next_round += period
                time.sleep(max(0.0, next_round - time.monotonic()))
            client.close()
            with lock:
                latencies.extend(mine)
                errors[0] += failed
                ages[0] = max(ages[0], oldest)

        threads = [threading.Thread(target=run) for _ in range(clients)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        cpu = cpu_seconds(server.pid) - cpu_before
        server.send_signal(signal.SIGTERM)
        server.wait(10)
    latencies.sort()
    n = len(latencies)
    print(json.dumps({
        "start_s": round(start_s, 2), "clients": clients, "seconds": seconds, "period_s": period, "units": len(units), "requests": n,
        "errors": errors[0],
        "p50_ms": round(latencies[n // 2] * 1000, 3) if n else None,
        "p99_ms": round(latencies[min(n - 1, int(n * 0.99))] * 1000, 3) if n else None,
        "server_cpu_us_per_request": round(cpu / n * 1e6, 1) if n else None,
        "oldest_value_ms": ages[0],
        "serve_exit": server.returncode,
    }))


if __name__ == "__main__":
    main()
