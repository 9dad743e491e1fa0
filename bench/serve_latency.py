#!/usr/bin/python3
"""The gateway under load, measured rather than asserted: starts
`vardel-cli serve` on the simulated card, lets CLIENTS clients each read every
unit's measured values every PERIOD seconds for SECONDS, and prints p50 and p99
latency of those reads, the server's CPU time per request (all of it, and its
event loop's alone: the rest is the card thread, which runs the simulated
card), the largest age of a served value and the errors. The simulated card
keeps a real card's pace (serve's default). With KX3_METERS the network is
that many KX-3 meters at 19200 baud at addresses 1..N (ADDRESSES defaults to
all of them); without it, the factory network of three.

The clients (--clients-as):
  native     vardel_serve_load from BUILD_DIR: a thread and a raw socket a
             client, so little of their own cost that they measure the gateway
  processes  pymodbus, each client a process of its own (the default)
  threads    pymodbus, all clients threads of this one interpreter: their
             latency includes each thread's wait for the interpreter lock,
             up to its switch interval (5 ms), so it measures the interpreter
             as much as the gateway

  bench/serve_latency.py [--clients-as native|processes|threads] BUILD_DIR
                         [CLIENTS] [SECONDS] [PERIOD] [ADDRESSES] [KX3_METERS]
  e.g. bench/serve_latency.py build-test 20 60 0.1 1-3
       bench/serve_latency.py --clients-as native build-rel 20 60 0.1 1-32 32
"""
import json
import multiprocessing
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def cpu_seconds(pid, task=None):
    path = f"/proc/{pid}/task/{task}/stat" if task else f"/proc/{pid}/stat"
    with open(path) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks  # utime + stime


def pymodbus_client(port, units, period, end, results):
    """One client: every unit's measured values every period until end;
    (latencies, errors, oldest age) into results."""
    from pymodbus.client import ModbusTcpClient

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
    results.put((mine, failed, oldest))


def pymodbus_load(kind, clients, port, units, period, seconds):
    end = time.monotonic() + seconds
    if kind == "threads":
        import queue
        results = queue.Queue()
        workers = [threading.Thread(target=pymodbus_client, args=(port, units, period, end, results))
                   for _ in range(clients)]
    else:
        context = multiprocessing.get_context("fork")
        results = context.Queue()
        workers = [context.Process(target=pymodbus_client, args=(port, units, period, end, results))
                   for _ in range(clients)]
    for w in workers:
        w.start()
    # Taken before the joins: a process does not end while its results fill the pipe.
    gathered = [results.get() for _ in workers]
    for w in workers:
        w.join()
    latencies = sorted(x for mine, _, _ in gathered for x in mine)
    n = len(latencies)
    return {
        "requests": n,
        "errors": sum(failed for _, failed, _ in gathered),
        "p50_ms": round(latencies[n // 2] * 1000, 3) if n else None,
        "p99_ms": round(latencies[min(n - 1, int(n * 0.99))] * 1000, 3) if n else None,
        "max_ms": round(latencies[-1] * 1000, 3) if n else None,
        "oldest_value_ms": max((oldest for _, _, oldest in gathered), default=0),
    }


def native_load(build, clients, port, addresses, period, seconds):
    out = subprocess.run(
        [os.path.join(build, "bin", "vardel_serve_load"), "127.0.0.1", str(port), str(clients), str(seconds),
         str(period), addresses], check=True, stdout=subprocess.PIPE, text=True).stdout
    return json.loads(out)


def main():
    args = sys.argv[1:]
    kind = "processes"
    if args[:1] == ["--clients-as"]:
        kind = args[1]
        args = args[2:]
    if kind not in ("native", "processes", "threads") or not args:
        sys.exit(__doc__)
    build = args[0]
    for program in ["vardel-cli"] + (["vardel_serve_load"] if kind == "native" else []):
        if not os.access(os.path.join(build, "bin", program), os.X_OK):
            sys.exit(f"{build}/bin/{program} is missing: build the target {program}")
    if kind != "native":
        try:
            import pymodbus  # noqa: F401  (the clients import it in their own processes)
        except ImportError:
            sys.exit(f"{sys.executable} has no pymodbus: install python3-pymodbus and run it with /usr/bin/python3")
    clients = int(args[1]) if len(args) > 1 else 20
    seconds = float(args[2]) if len(args) > 2 else 60
    period = float(args[3]) if len(args) > 3 else 0.1
    meters = int(args[5]) if len(args) > 5 else 0
    addresses = args[4] if len(args) > 4 else (f"1-{meters}" if meters else "1-3")
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
        load = os.getloadavg()[0]
        cpu_before = cpu_seconds(server.pid)
        loop_before = cpu_seconds(server.pid, server.pid)
        if kind == "native":
            result = native_load(build, clients, port, addresses, period, seconds)
        else:
            result = pymodbus_load(kind, clients, port, units, period, seconds)
        cpu = cpu_seconds(server.pid) - cpu_before
        loop = cpu_seconds(server.pid, server.pid) - loop_before
        server.send_signal(signal.SIGTERM)
        server.wait(10)
    n = result["requests"]
    print(json.dumps({
        "clients_as": kind, "start_s": round(start_s, 2), "clients": clients, "seconds": seconds,
        "period_s": period, "units": len(units), **result,
        "server_cpu_us_per_request": round(cpu / n * 1e6, 1) if n else None,
        "event_loop_cpu_us_per_request": round(loop / n * 1e6, 1) if n else None,
        "load_before": round(load, 2), "load_after": round(os.getloadavg()[0], 2),
        "serve_exit": server.returncode,
    }))


if __name__ == "__main__":
    main()
