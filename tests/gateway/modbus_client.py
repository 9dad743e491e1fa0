#!/usr/bin/python3
"""Modbus TCP client checks against `vardel-cli serve`, written with pymodbus
(a client nobody here wrote). Prints one JSON object; the C++ test judges it.

  modbus_client.py probe PORT
  modbus_client.py write PORT
  modbus_client.py concurrent PORT CLIENTS SECONDS UNIT...
"""
import json
import math
import struct
import sys
import threading
import time

from pymodbus.client import ModbusTcpClient
from pymodbus.mei_message import ReadDeviceInformationRequest


def exception_code(response):
    return getattr(response, "exception_code", None)


def probe(port):
    client = ModbusTcpClient("127.0.0.1", port=port, timeout=3)
    client.connect()
    out = {}
    info = client.execute(ReadDeviceInformationRequest(read_code=1, object_id=0, unit=2))
    out["identity"] = {str(k): v.decode() for k, v in info.information.items()}
    out["write_register"] = exception_code(client.write_register(10, 1, slave=2))
    out["write_registers"] = exception_code(client.write_registers(0, [1, 2], slave=2))
    out["write_coil"] = exception_code(client.write_coil(0, True, slave=2))
    out["unknown_unit"] = exception_code(client.read_input_registers(0, 2, slave=9))
    out["beyond_map"] = exception_code(client.read_input_registers(23, 2, slave=2))
    regs = client.read_input_registers(0, 23, slave=2).registers
    values = [struct.unpack(">f", struct.pack(">HH", regs[i], regs[i + 1]))[0] for i in range(0, 20, 2)]
    out["values"] = [None if math.isnan(v) else v for v in values]  # JSON has no NaN
    out["age_ms"] = (regs[20] << 16) | regs[21]
    out["failed_polls"] = regs[22]
    client.close()
    print(json.dumps(out, allow_nan=False))


def write(port):
    """Register 20 of the KX-3 at unit 2 to 12.5, stored; then a change of its address."""
    client = ModbusTcpClient("127.0.0.1", port=port, timeout=10)
    client.connect()
    words = list(struct.unpack(">HH", struct.pack(">f", 12.5)))
    out = {"write": exception_code(client.write_registers(40, words, slave=2)),
           "store": exception_code(client.write_coil(0, True, slave=2))}
    out["store_outcome"] = client.read_input_registers(23, 1, slave=2).registers[0]
    address = struct.unpack(">f", struct.pack(">HH", *client.read_holding_registers(0, 2, slave=2).registers))[0]
    moved = list(struct.unpack(">HH", struct.pack(">f", address + 5)))
    out["link_change"] = exception_code(client.write_registers(0, moved, slave=2))
    client.close()
    print(json.dumps(out))


def concurrent(port, clients, seconds, units):
    counts = {"ok": 0, "errors": 0, "worst_ms": 0.0}
    lock = threading.Lock()
    end = time.monotonic() + seconds

    def run():
        client = ModbusTcpClient("127.0.0.1", port=port, timeout=3)
        ok = errors = 0
        worst = 0.0
        if not client.connect():
            errors += 1
        while time.monotonic() < end and errors == 0:
            for unit in units:
                started = time.monotonic()
                response = client.read_input_registers(0, 23, slave=unit)
                worst = max(worst, (time.monotonic() - started) * 1000)
                if response.isError() or len(response.registers) != 23:
                    errors += 1
                else:
                    ok += 1
        client.close()
        with lock:
            counts["ok"] += ok
            counts["errors"] += errors
            counts["worst_ms"] = max(counts["worst_ms"], worst)

    threads = [threading.Thread(target=run) for _ in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    print(json.dumps(counts))


if __name__ == "__main__":
    if sys.argv[1] == "probe":
        probe(int(sys.argv[2]))
    elif sys.argv[1] == "write":
        write(int(sys.argv[2]))
    else:
        concurrent(int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), [int(u) for u in sys.argv[5:]])
