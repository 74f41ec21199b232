#!/usr/bin/env python3
"""Writes the seed corpora of the receiver, modbus_reply, numbers and
ust_cell targets: a few valid inputs each. The last three read their input
through libFuzzer's FuzzedDataProvider (numbers from the end of the input,
byte runs and texts from the front), so their seeds are built the same way.
Run it after changing the order in which a target reads its input.

Usage: fuzz/make_seeds.py [corpus folder, default fuzz/corpus]
"""
import os
import sys


class Input:
    """The bytes a FuzzedDataProvider reads back as the values given."""

    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()  # in the order they are read

    def int_in_range(self, lo, hi, value):
        span, value = hi - lo, value - lo
        assert 0 <= value <= span
        n = 0
        while n < 8 and (span >> (8 * n)) > 0:
            n += 1
        for i in reversed(range(n)):  # the first byte read is the most significant
            self.back.append((value >> (8 * i)) & 0xFF)
        return self

    def u8(self, value):
        return self.int_in_range(0, 255, value)

    def u64(self, value):
        return self.int_in_range(0, 2**64 - 1, value)

    def flag(self, value):
        return self.u8(1 if value else 0)

    def pick(self, array, value):
        return self.int_in_range(0, len(array) - 1, array.index(value))

    def data(self, raw):
        self.front += bytes(raw)
        return self

    def text(self, s):
        """A string read up to its end mark (ConsumeRandomLengthString)."""
        self.front += s.encode().replace(b"\\", b"\\\\") + b"\\."
        return self

    def rest(self, s):
        """The remaining bytes taken as a string."""
        self.front += s.encode() if isinstance(s, str) else bytes(s)
        return self

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


# ---- native frames and ModBus CRC, as the line carries them ----

def native_frame(payload):
    n = 4 if len(payload) == 1 else len(payload) + 4 + (len(payload) - 2) // 3
    out = [n, n - 1]
    s, pos, i = (2 * n + 2) & 0xFF, 3, 0
    while i < len(payload):
        if pos % 4 == 0:
            out.append((-s - pos) & 0xFF)
            s = 0
        else:
            out.append(payload[i])
            s = (s + payload[i] + pos) & 0xFF
            i += 1
        pos += 1
    out.append((-s - pos) & 0xFF)
    return bytes(out)


# ---- modbus_reply: mirrors the reading order of fuzz_modbus_reply.cpp ----

CODES = [0, 1, 2, 3, 4, 6, 7, 11, 12, 13, 14, 17, 19, 20, 21, 22,
         23, 24, 25, 26, 30, 31, 32, 33, 34, 35, 36, 37, 5, 255]
OFFSETS = [0, 4, 8, 12, 16, 20, 24, 26, 27, 28, 30, 32, 34,
           36, 38, 40, 42, 44, 46, 47, 48, 49, 50, 53, 55, 57]

def command(inp, code, param1=None, param2=None):
    inp.pick(CODES, code)
    if code in (4, 6):
        inp.int_in_range(0, 3, 0)
        inp.flag(True).pick(OFFSETS, param1)
        inp.int_in_range(1, 4, param2)
    else:
        params = 0 if param1 is None else (1 if param2 is None else 2)
        inp.int_in_range(0, 3, params)
        if params >= 1:
            inp.u8(param1)
        if params >= 2:
            inp.u8(param2)


def modbus_reply(inp, registers, fill):
    """A well-formed reply in one burst: mode 2, `registers` data words."""
    inp.int_in_range(0, 63, 1)  # the whole request goes out
    inp.u8(0x02)
    if registers:
        inp.data(bytes((fill + i) & 0xFF for i in range(2 * registers)))
    inp.int_in_range(0, 30, 0)


def modbus_steps(kind, code, param1=None, param2=None, tx=b"", reads=(), writes=0, rx=64):
    inp = Input().flag(False).flag(True)
    inp.flag(kind == 1).u8(1).flag(True)
    command(inp, code, param1, param2)
    inp.int_in_range(0, 16, len(tx)).data(tx)
    inp.int_in_range(0, 64, rx).int_in_range(0, 300, 100).int_in_range(0, 3, 3)
    for _ in range(writes):
        modbus_reply(inp, 0, 0)
    for n in reads:
        modbus_reply(inp, n, 0x30)
    return inp.bytes()


def executor_native(kind, code, reply_data, rx):
    inp = Input().flag(False).flag(False)
    inp.int_in_range(0, 4, kind).flag(True).int_in_range(0, 200, 100)
    command(inp, code)
    inp.int_in_range(0, 16, 0).int_in_range(0, 64, rx)
    inp.u8(1).int_in_range(0, 100, 0).int_in_range(0, 3, 3)
    inp.int_in_range(0, 63, 1).u8(0x02)
    inp.int_in_range(0, 70, len(reply_data)).data(reply_data)
    inp.int_in_range(0, 30, 0)
    return inp.bytes()


def modbus_seeds():
    seeds = {}
    for kind in (1, 3):
        k = "tovik" if kind == 1 else "tovikm"
        block = 31 if kind == 1 else 32
        seeds[f"{k}-setpoints"] = modbus_steps(kind, 3, reads=[block], rx=57)
        seeds[f"{k}-model"] = modbus_steps(kind, 4, 49, 1, reads=[1, 1, 1], rx=8)
        seeds[f"{k}-current-item"] = modbus_steps(kind, 4, 8, 4, reads=[2], rx=8)
        seeds[f"{k}-ratio-item"] = modbus_steps(kind, 4, 24, 4, reads=[2 if kind == 1 else 1], rx=8)
        seeds[f"{k}-write-date"] = modbus_steps(kind, 6, 50, 3, tx=bytes([7, 3, 26]), writes=1)
        seeds[f"{k}-alarm-record"] = _alarm(kind)
        seeds[f"{k}-task"] = _task(kind)
        seeds[f"{k}-state"] = modbus_steps(kind, 23, reads=[1], rx=4)
        seeds[f"{k}-clock"] = modbus_steps(kind, 24, reads=[4], rx=6)
        seeds[f"{k}-currents"] = modbus_steps(kind, 14, reads=[6], rx=12)
        seeds[f"{k}-set-clock"] = modbus_steps(kind, 25, tx=bytes([9, 5, 30, 7, 3, 26]), writes=1)
    seeds["tovikm-statistics"] = modbus_steps(3, 33, reads=[12], rx=24)
    # A relay that answers with an exception.
    inp = Input().flag(False).flag(True).flag(True).u8(1).flag(True)
    command(inp, 23)
    inp.int_in_range(0, 16, 0).int_in_range(0, 64, 4).int_in_range(0, 300, 100).int_in_range(0, 3, 1)
    inp.int_in_range(0, 63, 1).u8(0x05).u8(2)
    inp.int_in_range(0, 30, 0)
    seeds["exception"] = inp.bytes()
    # The native kinds through the whole executor.
    seeds["native-state"] = executor_native(0, 23, bytes([0, 0, 0, 1]), 4)
    seeds["native-setpoints"] = executor_native(2, 3, bytes(range(57)), 57)
    return seeds


def _alarm(kind):
    # Write the record index, then read the record.
    inp = Input().flag(False).flag(True).flag(kind == 1).u8(1).flag(True)
    command(inp, 12, 4)
    inp.int_in_range(0, 16, 0).int_in_range(0, 64, 19).int_in_range(0, 300, 100).int_in_range(0, 3, 3)
    modbus_reply(inp, 0, 0)
    modbus_reply(inp, 10, 0x40)
    return inp.bytes()


def _task(kind):
    # Count, write the index, read the entry.
    inp = Input().flag(False).flag(True).flag(kind == 1).u8(1).flag(True)
    command(inp, 19, 2)
    inp.int_in_range(0, 16, 0).int_in_range(0, 64, 15).int_in_range(0, 300, 100).int_in_range(0, 3, 3)
    modbus_reply(inp, 1, 0x03)
    modbus_reply(inp, 0, 0)
    modbus_reply(inp, 6, 0x50)
    return inp.bytes()


# ---- receiver: frames as they arrive ----

def receiver_seeds():
    return {
        "one-byte": native_frame([0x05]),
        "read-setpoints-request": native_frame([1, 3]),
        "model-request": native_frame([1, 4, 49, 1]),
        "state-reply": native_frame([1, 23, 0, 0, 0, 1]),
        "setpoints-reply": native_frame([1, 3] + list(range(57))),
        "alarm-reply": native_frame([1, 12, 9, 5, 30, 7, 3, 26, 4] + [0x10, 0x27, 0, 0] * 3),
        "noise-then-frame": bytes([7]) + native_frame([1, 24, 9, 5, 30, 7, 3, 26]),
        "two-frames": native_frame([1, 23, 0, 0, 0, 1]) + native_frame([2, 17, 0x88, 0x13, 0, 0]),
    }


# ---- numbers: mirrors fuzz_numbers.cpp ----

LOCALES = ["ru", "us", "fi", "ar", "hr", "iso", "multi", "empty"]


def numbers_seeds():
    def typed(locale, s):
        return Input().pick(LOCALES, locale).int_in_range(0, 3, 0).rest(s).bytes()

    def value(locale, p, d, bits):
        return (Input().pick(LOCALES, locale).int_in_range(0, 3, 1).int_in_range(-2, 20, p)
                .int_in_range(-2, 20, d).flag(True).u64(bits).bytes())

    def date(locale, text, mode=2):
        inp = Input().pick(LOCALES, locale).int_in_range(0, 3, mode)
        width = 3 if mode == 2 else 6
        lo = [1, 1, 0] if mode == 2 else [0, 0, 0, 1, 1, 0]
        hi = [31, 12, 99] if mode == 2 else [23, 59, 59, 31, 12, 255]
        for b in lo[:width] + hi[:width]:
            inp.u8(b)
        inp.text(text)
        if mode == 2:
            inp.int_in_range(1, 12, 3).u8(26).int_in_range(1, 31, 7)
        else:
            inp.int_in_range(0, 23, 9).int_in_range(0, 59, 5).int_in_range(0, 59, 30)
            inp.int_in_range(1, 12, 3).u8(26).int_in_range(1, 31, 7)
        return inp.bytes()

    import struct
    bits = lambda v: struct.unpack("<Q", struct.pack("<d", v))[0]
    return {
        "typed-ru": typed("ru", "  7,9 "),
        "typed-exponent": typed("ru", "-1,5e2"),
        "typed-us": typed("us", "1234.5"),
        "typed-arabic": typed("ar", "3\u066b25"),
        "format-12.345": value("ru", 3, 2, bits(12.345)),
        "format-1234.5": value("us", 10, 1, bits(1234.5)),
        "format-carry": value("ar", 3, 2, bits(99.96)),
        "date-ru": date("ru", "7.03.2026"),
        "date-clamped": date("ru", "31.13.2026"),
        "date-hr": date("hr", "5. 3. 2026"),
        "datetime-ru": date("ru", "7.03.2026 9:5:30", mode=3),
        "datetime-fi": date("fi", "7.03.2026 9.05.30", mode=3),
        "datetime-multi": date("multi", "7\u201303\u20132026 09\u02d005\u02d030", mode=3),
    }


# ---- ust_cell: mirrors fuzz_ust_cell.cpp ----

def ust_seeds():
    def cell(row, text, model=1, multiplier=0, locale=0, variant=0, kind=0):
        inp = Input().int_in_range(0, 4, locale).int_in_range(0, 3, kind).int_in_range(0, 26, row).u8(model)
        if variant:
            inp.flag(False).u8(variant)
        else:
            inp.flag(True)
        if multiplier:
            inp.int_in_range(0, 3, 1).int_in_range(0, 65535, multiplier)
        else:
            inp.int_in_range(0, 3, 0)
        return inp.rest(text).bytes()

    return {
        "inom-ktr": cell(2, "150", multiplier=10),
        "imin-zero": cell(1, "0", multiplier=1),
        "ipor-zero": cell(0, "0", multiplier=1),
        "tmin": cell(7, "1234,5"),
        "tmin-rounded": cell(7, "2,37"),
        "tots": cell(23, "33", kind=3),
        "tsz-variant": cell(13, "0", variant=1),
        "date": cell(20, "31.13.2026"),
        "date-us": cell(20, "7/03/2026", locale=1),
        "model-none": cell(19, "200", model=0),
        "din-protocol": cell(24, "2", kind=3),
        "datetime-item": cell(25, "7.03.2026 9:5:30"),
        "calibration-current": cell(26, "12,34"),
    }


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    for name, seeds in (("receiver", receiver_seeds()), ("modbus_reply", modbus_seeds()),
                        ("numbers", numbers_seeds()), ("ust_cell", ust_seeds())):
        folder = os.path.join(root, name)
        os.makedirs(folder, exist_ok=True)
        for seed, data in seeds.items():
            with open(os.path.join(folder, seed), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
