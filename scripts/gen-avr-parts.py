#!/usr/bin/env python3
"""Generates the AVR part data the program compiles in, from two public sources:

  * avrdude's part descriptions (/etc/avrdude.conf): signature, memory sizes, page size,
    programming interfaces, erase and write times, busy read-back values, calibration bytes,
    whether programming enable echoes;
  * avr-libc's io headers (through avr-gcc -E): fuse bit names and positions, the factory fuse
    values (*FUSE_DEFAULT) and which lock bits exist;

and, where those have nothing or the chip answers in an older format, the datasheet tables
below (EXTRA_PARTS, STYLE_VIEW, SERIAL_VIEW and the factory-clock and fuse-default ones).

It writes
  db/sql/catalogue_avr.sql  the timing columns of the AVR rows already in the catalogue and a
                            row for every other classic serial-ISP AVR;
  common/AvrPartData.inc    one AvrPartData initializer per AVR (the current chip record's
                            quirks, simulated chips, the generic configuration view).

Chip ids already handed out are kept (read back from the SQL written last time); new chips get
the next ids in name order. Usage: scripts/gen-avr-parts.py [--check] [--conf FILE] [--root DIR]
--check writes nothing and exits 1 when the committed files differ from what would be written.
"""

import argparse
import copy
import math
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# Interfaces that mark a family this program's serial engine cannot speak.
FOREIGN_MODES = {"PM_TPI", "PM_PDI", "PM_UPDI", "PM_aWire", "PM_AVR32JTAG", "PM_XMEGAJTAG"}

# The standard serial commands the generic view sends; a chip whose part data says otherwise
# gets no generic view.
STANDARD_PATTERNS = {
    "lock": ("0101.1000--0000.0000", "1010.1100--111"),  # 0xAC 0xE0..0xFF 0x00 v
    "lfuse": ("0101.0000--0000.0000", "1010.1100--1010.0000"),
    "hfuse": ("0101.1000--0000.1000", "1010.1100--1010.1000"),
    "efuse": ("0101.0000--0000.1000", "1010.1100--1010.0100"),
}

# Factory clocks the fuse rules below cannot derive (datasheet clock tables).
FACTORY_CLOCK_OVERRIDES = {
    "ATMEGA163": 1_000_000,  # CKSEL 0010: internal RC, 1 MHz
    "ATMEGA323": 1_000_000,  # CKSEL 0010: internal RC, 1 MHz
    "ATTINY12": 1_200_000,  # CKSEL 0010: internal RC, 1.2 MHz
    "ATTINY15": 1_600_000,  # CKSEL 00: internal RC, 1.6 MHz
}


# Factory fuse values of chips whose avr-libc header gives none (datasheet, "Fuse Bits").
FUSE_DEFAULT_OVERRIDES = {
    "ATMEGA165A": {"low": 0x62, "high": 0x99, "ext": 0xFF},
}


# Fuse bits the datasheets name and avr-libc's headers leave out ("Extended Fuse Byte"): the
# ATmega328PB/324PB clock failure detection enable.
FUSE_NAME_OVERRIDES = {
    "ATMEGA328PB": {"ext": {3: "CFD"}},
    "ATMEGA324PB": {"ext": {3: "CFD"}},
}


# Catalogue chips avrdude's part data leaves out, from their datasheets (signature bytes,
# memory sizes, Flash page; "Memory Programming"); avr-libc supplies their fuse and lock bits.
# Erase and write times stay unknown: the engines and the simulated chip keep their fixed ones.
EXTRA_PARTS = {
    # AT90S2323 datasheet: 1E 91 02, 2K bytes Flash, 128 bytes EEPROM, byte-wise programming.
    "AT90S2323": {"sig": [0x1E, 0x91, 0x02], "flash": 2048, "eeprom": 128, "page": 0, "cal": 0},
    # ATtiny22 datasheet: 1E 91 06, 2K bytes Flash, 128 bytes EEPROM, byte-wise programming.
    "ATtiny22": {"sig": [0x1E, 0x91, 0x06], "flash": 2048, "eeprom": 128, "page": 0, "cal": 0},
    # ATmega323 datasheet: 1E 95 01, 32K bytes Flash in 64-word pages, 1K byte EEPROM, one
    # calibration byte for the internal RC oscillator.
    "ATmega323": {"sig": [0x1E, 0x95, 0x01], "flash": 32768, "eeprom": 1024, "page": 128,
                  "cal": 1},
}

# How the older chips' serial commands show their configuration bits, where avr-libc's layout
# (low/high/extended fuse bytes read by 0x50/0x58, lock bits in byte 4 of 0xAC 0xE0) does not
# fit. All of them write their lock bits in byte 2 (0xAC 1111 1ii1, bits 2 and 1), the
# datasheets' "Serial Programming Instruction Set" tables.
STYLE_VIEW = {
    # AT90S1200/2313/4414/8515: nothing reads back; the fuses are not serially programmable.
    "LockWriteOnly": {"lock": 0x06, "low_used": 0x00, "high_used": 0x00, "ext_used": 0x00,
                      "low_fixed": 0x00, "high_fixed": 0x00},
    # AT90S2323/2343/4434/8535, ATtiny22: "Read Lock and Fuse Bits" 0x58 answers
    # LB1 LB2 SPIEN x x x x FSTRT/RCEN; SPIEN is not serially writable.
    "CombinedStatus": {"lock": 0x06, "low_used": 0x21, "low_fixed": 0x20},
    # AT90S2333/4433, ATmega103: the fuse byte travels in byte 2 of 0xAC 101i iiii; SPIEN
    # (bit 5 of the read) is not serially writable.
    "FuseInByte2": {"lock": 0x06, "low_fixed": 0x20},
    # ATtiny12/15: one fuse byte by 0x50 / 0xAC 0xA0.
    "Tiny12": {"lock": 0x06},
}

# Each chip's own: its style, and factory values or bits its datasheet gives otherwise than
# avr-libc's header (whose defaults for these chips are partly missing, partly off).
SERIAL_VIEW = {
    "AT90S1200": {"style": "LockWriteOnly"},
    "AT90S2313": {"style": "LockWriteOnly"},
    "AT90S4414": {"style": "LockWriteOnly"},
    "AT90S8515": {"style": "LockWriteOnly"},
    # Shipped with SPIEN programmed (status byte 0xDF); the AT90S2343 also with RCEN (0xDE).
    # FSTRT/RCEN is written by 0xAC 1011 111i, except on the ATtiny22.
    "AT90S2323": {"style": "CombinedStatus", "low": 0xDF, "fuse_writable": True},
    "AT90S2343": {"style": "CombinedStatus", "low": 0xDE, "fuse_writable": True},
    "AT90S4434": {"style": "CombinedStatus", "low": 0xDF, "fuse_writable": True},
    "AT90S8535": {"style": "CombinedStatus", "low": 0xDF, "fuse_writable": True},
    "ATTINY22": {"style": "CombinedStatus", "low": 0xDF},
    # x x SPIEN BODLEVEL BODEN CKSEL2..0, shipped as 0xDA (SPIEN programmed, CKSEL 010).
    "AT90S2333": {"style": "FuseInByte2", "low": 0xDA, "low_used": 0x3F},
    "AT90S4433": {"style": "FuseInByte2", "low": 0xDA, "low_used": 0x3F},
    # SUT1 SUT0 EESAVE SPIEN in bits 0, 1, 3, 5; shipped with SPIEN programmed.
    "ATMEGA103": {"style": "FuseInByte2", "low": 0xDF, "low_used": 0x2B, "eesave": ("Low", 3)},
    "ATTINY12": {"style": "Tiny12"},
    # Shipped with BODLEVEL programmed as well (0x5C).
    "ATTINY15": {"style": "Tiny12", "low": 0x5C},
    # The fuse read returns bit 3 as well (it reads 1).
    "ATMEGA161": {"low_used": 0x7F},
    # Shipped as 0xE1: SUT1..0 = 10, CKSEL = 0001 (1 MHz internal RC).
    "ATMEGA8535": {"low": 0xE1},
    # The datasheets' extended fuse byte has four bits, bit 0 among them, which avr-libc's
    # header leaves unnamed.
    "AT90CAN128": {"ext_used": 0x0F},
    "ATMEGA169": {"ext_used": 0x0F},
}


# ---------------------------------------------------------------- avrdude.conf

def tokenize(text):
    toks = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if c == "#":
            j = text.find("\n", i)
            i = n if j < 0 else j
        elif c.isspace():
            i += 1
        elif c == '"':
            j = text.index('"', i + 1)
            toks.append(("s", text[i + 1:j]))
            i = j + 1
        elif c in "=;,":
            toks.append((c, c))
            i += 1
        else:
            j = i
            while j < n and not text[j].isspace() and text[j] not in '=;,#"':
                j += 1
            toks.append(("w", text[i:j]))
            i = j
    return toks


class Tokens:
    def __init__(self, toks):
        self.toks, self.pos = toks, 0

    def peek(self):
        return self.toks[self.pos] if self.pos < len(self.toks) else (None, None)

    def next(self):
        t = self.peek()
        self.pos += 1
        return t

    def values(self):
        """Values of `key = v1 v2, v3 ;` after the '='."""
        out = []
        while True:
            kind, v = self.next()
            if kind == ";" or kind is None:
                return out
            if kind != ",":
                out.append(v)


def parse_body(ts):
    """A part or programmer body up to its closing ';': (fields, memories)."""
    fields, memories = {}, {}
    while True:
        kind, v = ts.next()
        if kind == ";" or kind is None:
            return fields, memories
        if kind == "w" and v == "memory":
            _, name = ts.next()
            if ts.peek()[0] == "=":  # memory "x" = NULL: removes an inherited memory
                ts.next()
                ts.values()
                memories.pop(name, None)
                continue
            mem = {}
            while True:
                k, key = ts.next()
                if k == ";" or k is None:
                    break
                if ts.peek()[0] == "=":
                    ts.next()
                mem[key] = ts.values()  # also `alias "name";`
            memories.setdefault(name, {}).update(mem)
            continue
        assert ts.next()[0] == "=", v
        fields[v] = ts.values()


def parse_conf(path):
    ts = Tokens(tokenize(open(path, encoding="utf-8", errors="replace").read()))
    parts = {}
    order = []
    while ts.peek()[0] is not None:
        kind, v = ts.next()
        if kind == "w" and v in ("part", "programmer"):
            parent = None
            if ts.peek() == ("w", "parent"):
                ts.next()
                parent = ts.next()[1]
            fields, memories = parse_body(ts)
            if v != "part":
                continue
            if parent is not None:
                base = copy.deepcopy(parts[parent])
                base["fields"].update(fields)
                for name, mem in memories.items():
                    base["memories"].setdefault(name, {}).update(mem)
                # A memory the child deletes is marked by parse_body's pop only for its own
                # list; none of the parts we use delete inherited memories.
                part = base
            else:
                part = {"fields": fields, "memories": memories}
            pid = fields.get("id", [None])[0]
            part = copy.deepcopy(part)
            part["fields"]["id"] = [pid]
            part["parent"] = parts[parent]["fields"]["desc"][0] if parent is not None else None
            parts[pid] = part
            order.append(pid)
        elif kind == "w":
            if ts.peek()[0] == "=":
                ts.next()
                ts.values()
    return [parts[p] for p in order]


def num(values, default=None):
    if not values:
        return default
    v = values[0]
    return int(v, 0) if re.match(r"^(0x[0-9a-fA-F]+|\d+)$", v) else default


def readback(mem):
    if "readback" in mem and len(mem["readback"]) == 2:
        a, b = (int(x, 0) for x in mem["readback"])
    elif "readback_p1" in mem and "readback_p2" in mem:
        a, b = num(mem["readback_p1"]), num(mem["readback_p2"])
    else:
        return -1
    return (a << 8) | b


def classic_isp(part):
    f = part["fields"]
    pid = f["id"][0]
    if pid is None or pid.startswith("."):
        return False
    # Other makers' look-alikes (LGT8F...) have their own programming interface.
    if not f.get("desc", [""])[0].upper().startswith("AT"):
        return False
    modes = set(" ".join(f.get("prog_modes", [])).replace("|", " ").split())
    if "PM_ISP" not in modes or modes & FOREIGN_MODES:
        return False
    sig = f.get("signature", [])
    if len(sig) != 3 or all(int(x, 0) == 0 for x in sig):
        return False
    m = part["memories"]
    return "flash" in m and "pgm_enable" in f


# ---------------------------------------------------------------- avr-libc

def libc_facts(desc):
    """Fuse bytes (name -> (bits, default)) and lock bits from the io header, or None."""
    mcu = desc.lower()
    try:
        out = subprocess.run(["avr-gcc", f"-mmcu={mcu}", "-E", "-dD", "-C", "-x", "c", "-"],
                             input="#include <avr/io.h>\n", capture_output=True, text=True, errors="replace",
                             check=False)
    except FileNotFoundError:
        sys.exit("avr-gcc is needed (apt-get install gcc-avr avr-libc)")
    if out.returncode != 0 or "device type not defined" in out.stdout + out.stderr:
        return None  # avr-gcc or avr-libc does not know the chip
    # Each fuse byte is a run of FUSE_<bit> defines under a "/* Low Fuse Byte */" style comment,
    # closed by its [LHE]FUSE_DEFAULT where the header gives one.
    byte_of_comment = [(r"low fuse|fuse low", "low"), (r"high fuse|fuse high", "high"),
                       (r"extended fuse|fuse extended", "ext"), (r"fuse byte", "low")]
    current = None
    pending = []
    names = {}
    defaults = {}
    lock = 0
    bit_values = {}
    for line in out.stdout.splitlines():
        c = re.match(r"\s*/\*(.*)\*/\s*$", line)
        if c:
            text = c.group(1).lower()
            for pattern, byte in byte_of_comment:
                if re.search(pattern, text):
                    current = byte
                    break
            continue
        m = re.match(r"#define\s+(\w+)(?:\s+(.*))?$", line)
        if not m:
            continue
        name, value = m.group(1), (m.group(2) or "").strip()
        f = re.match(r"FUSE_(\w+)$", name)
        b = re.match(r"(?:\(unsigned char\))?\s*~\s*_BV\((\d)\)$", value)
        if f and b and not name.endswith("_DEFAULT"):
            pending.append((f.group(1), int(b.group(1)), current))
            bit_values[name] = 0xFF & ~(1 << int(b.group(1)))
            continue
        d = re.match(r"([LHE]?)FUSE_DEFAULT$", name)
        if d:
            byte = {"L": "low", "H": "high", "E": "ext", "": "low"}[d.group(1)]
            expr = value
            for k, v in sorted(bit_values.items(), key=lambda kv: -len(kv[0])):
                expr = re.sub(r"\b%s\b" % k, str(v), expr)
            expr = expr.replace("(unsigned char)", "")
            expr = re.sub(r"_BV\((\d)\)", r"(1<<\1)", expr)
            if not re.match(r"^[\s0-9xXa-fA-F&|~()<>]+$", expr):
                raise SystemExit(f"{desc}: cannot evaluate {name} = {value}")
            defaults[byte] = eval(expr) & 0xFF  # noqa: S307 - checked to be an integer expression
            for bit_name, pos, _ in pending:  # the bits listed before it are its own
                names.setdefault(byte, [None] * 8)[pos] = bit_name
            pending = []
            continue
        if name == "__LOCK_BITS_EXIST":
            lock |= 0x03
        elif name == "__BOOT_LOCK_BITS_0_EXIST":
            lock |= 0x0C
        elif name == "__BOOT_LOCK_BITS_1_EXIST":
            lock |= 0x30
    for bit_name, pos, where in pending:  # a header without *FUSE_DEFAULT
        if where:
            names.setdefault(where, [None] * 8)[pos] = bit_name
    bytes_ = {byte: (n, defaults.get(byte)) for byte, n in names.items()}
    return {"fuses": bytes_, "lock": lock}


# ---------------------------------------------------------------- derived facts

def cksel_value(names, default):
    """CKSEL3..0 of a low fuse byte (bit set = 1) and its width; None when it has none. Some
    headers name the combined field SUT_CKSEL5..0, whose bits 3..0 are CKSEL3..0."""
    positions = {}
    for pos, n in enumerate(names):
        m = re.match(r"(?:SUT_)?CKSEL(\d)$", n or "")
        if m and int(m.group(1)) < 4:
            positions[int(m.group(1))] = pos
    if not positions:
        return None, 0
    v = 0
    for k, pos in positions.items():
        v |= ((default >> pos) & 1) << k
    return v, len(positions)


def factory_clock(name, low):
    """The clock a chip runs on as it leaves the factory, from its low fuse's default."""
    if name.upper() in FACTORY_CLOCK_OVERRIDES:
        return FACTORY_CLOCK_OVERRIDES[name.upper()]
    if low is None:
        return 0
    names, default = low
    cksel, width = cksel_value(names, default)
    if cksel is None:
        return 0
    upper = name.upper()
    if "CKDIV8" in names:
        divided = not (default >> names.index("CKDIV8")) & 1
        if width == 2:  # ATtiny13: 9.6/4.8 MHz RC; ATtiny48/88: 8 MHz RC
            hz = {0b10: 9_600_000, 0b01: 4_800_000}.get(cksel) if upper.startswith(
                "ATTINY13") else {0b10: 8_000_000}.get(cksel)
        elif upper.startswith(("ATTINY2313", "ATTINY4313")):
            hz = {0b0100: 8_000_000, 0b0010: 4_000_000}.get(cksel)
        else:
            hz = {0b0010: 8_000_000}.get(cksel)
        if hz is None:
            return 0
        return hz // 8 if divided else hz
    if width == 4:  # the older calibrated RC oscillators: 1, 2, 4 or 8 MHz
        return {0b0001: 1_000_000, 0b0010: 2_000_000, 0b0011: 4_000_000,
                0b0100: 8_000_000}.get(cksel, 0)
    return 0


def pattern_starts(pattern, prefix):
    """Whether a command pattern begins with prefix; 'x' (don't care) matches a 0."""
    return len(pattern) >= len(prefix) and all(
        a == b or (a == "x" and b == "0") for a, b in zip(pattern, prefix))


def value_mask(memories, mem):
    """Bits of a fuse byte its write command takes (the 'i' bits of the fourth byte); a bit the
    pattern fixes is written as 1 whatever avr-libc calls it."""
    if mem == "lfuse" and mem not in memories:
        mem = "fuse"
    w = (memories.get(mem, {}).get("write") or [""])[0].replace(".", "").split("--")
    if len(w) != 4 or len(w[3]) != 8:
        return 0xFF
    return sum(1 << (7 - i) for i, ch in enumerate(w[3]) if ch == "i")


def standard_commands(part):
    m = part["memories"]
    for mem, (read, write) in STANDARD_PATTERNS.items():
        if mem not in m:
            continue
        r = (m[mem].get("read") or [""])[0]
        w = (m[mem].get("write") or [""])[0]
        if not pattern_starts(r, read) or not pattern_starts(w, write):
            return False
    return True


def factory_fuses(desc, parent, has_byte):
    """avr-libc's fuse bytes of a chip (name lists and factory values) and its lock bits; the
    parent part's header where the chip's own lacks them. has_byte(byte) says whether the chip
    has that fuse byte at all."""
    libc = libc_facts(desc)
    if libc is None and parent:  # a newer variant avr-libc does not know yet
        libc = libc_facts(parent)
    fuses = libc["fuses"] if libc else {}
    if any(d is None for _, d in fuses.values()):  # header without factory values
        known_parent = libc_facts(parent) if parent else None
        for byte, (names, d) in list(fuses.items()):
            if d is None:
                known = known_parent and known_parent["fuses"].get(byte)
                if known and known[1] is not None and known[0] == names:
                    fuses[byte] = (names, known[1])
                elif desc.upper() in FUSE_DEFAULT_OVERRIDES:
                    fuses[byte] = (names, FUSE_DEFAULT_OVERRIDES[desc.upper()][byte])
                else:
                    sys.exit(f"{desc}: no factory value for its {byte} fuse byte")
    present = {byte: fuses.get(byte) if has_byte(byte) else None
               for byte in ("low", "high", "ext")}
    return present, libc


def collect(conf):
    chips = []
    for part in parse_conf(conf):
        if not classic_isp(part):
            continue
        f, m = part["fields"], part["memories"]
        desc = f["desc"][0]
        flash, eeprom = m["flash"], m.get("eeprom", {})
        paged = (flash.get("paged") or ["no"])[0] == "yes"
        mems = {"low": ("lfuse", "fuse"), "high": ("hfuse",), "ext": ("efuse",)}
        fuses, libc = factory_fuses(desc, part["parent"],
                                    lambda byte: any(x in m for x in mems[byte]))
        for byte, named in FUSE_NAME_OVERRIDES.get(desc.upper(), {}).items():
            names, default = fuses[byte]
            names = list(names)
            for bit, name in named.items():
                names[bit] = name
            fuses[byte] = (names, default)
        chips.append({
            "name": desc,
            "sig": [int(x, 0) for x in f["signature"]],
            "flash": num(flash.get("size"), 0),
            "eeprom": num(eeprom.get("size"), 0),
            "page": num(flash.get("page_size"), 0) if paged else 0,
            "erase_us": num(f.get("chip_erase_delay"), 0),
            "fmin": num(flash.get("min_write_delay"), 0),
            "fmax": num(flash.get("max_write_delay"), 0),
            "emin": num(eeprom.get("min_write_delay"), 0),
            "emax": num(eeprom.get("max_write_delay"), 0),
            "frb": readback(flash),
            "erb": readback(eeprom),
            "cal": num(m.get("calibration", {}).get("size"), 0),
            **fuses,
            "lock": libc["lock"] if libc else 0,
            "libc": libc is not None,
            "standard": standard_commands(part) and libc is not None,
            "clock": factory_clock(desc, fuses["low"]),
            # 0xAC 1111 11ii: the lock bits travel in the second byte (ATtiny26/261/461/861).
            "writable": [value_mask(m, mem) for mem in ("lfuse", "hfuse", "efuse")],
            "lock_b2": pattern_starts((m.get("lock", {}).get("write") or [""])[0],
                                      "1010.1100--1111.11ii"),
            # Programming enable echoes 0x53 in its third byte; the AT90S1200's never does.
            "echo": num(f.get("pollvalue"), 0x53) != 0xFF,
            # EEPROM page mode: the part data gives the page's load and write commands.
            "epage": num(eeprom.get("page_size"), 0)
            if "loadpage_lo" in eeprom and "writepage" in eeprom else 0,
        })
    for name, facts in EXTRA_PARTS.items():
        fuses, libc = factory_fuses(name, None, lambda byte: True)
        chips.append({
            "name": name, **facts,
            "erase_us": 0, "fmin": 0, "fmax": 0, "emin": 0, "emax": 0, "frb": -1, "erb": -1,
            **fuses,
            "lock": libc["lock"] if libc else 0,
            "libc": libc is not None,
            "standard": False,  # no command patterns to check a generic view against
            "clock": factory_clock(name, fuses["low"]),
            "writable": [0xFF, 0xFF, 0xFF],
            "lock_b2": False,
            "echo": True,
            "epage": 0,
        })
    for c in chips:
        c["serial"] = serial_view(c)
    return chips


def bit_named(byte, name):
    """The mask of the bit avr-libc gives this name in a fuse byte; 0 when it has none."""
    if byte is None or name not in byte[0]:
        return 0
    return 1 << byte[0].index(name)


def serial_view(c):
    """The configuration bits as the chip's serial commands show them, for the simulated chip:
    avr-libc's layout, then the style's and the chip's own corrections from SERIAL_VIEW."""
    view = {
        "style": "Modern",
        "low": c["low"][1] if c["low"] else 0xFF,
        "high": c["high"][1] if c["high"] else 0xFF,
        "ext": c["ext"][1] if c["ext"] else 0xFF,
        "low_used": used_mask(c["low"]), "high_used": used_mask(c["high"]),
        "ext_used": used_mask(c["ext"]),
        "lock": c["lock"],
        "low_fixed": bit_named(c["low"], "SPIEN"), "high_fixed": bit_named(c["high"], "SPIEN"),
        "fuse_writable": False,
        "eesave": ("None", 0),
    }
    for byte, which in ((c["low"], "Low"), (c["high"], "High"), (c["ext"], "Ext")):
        if bit_named(byte, "EESAVE"):
            view["eesave"] = (which, byte[0].index("EESAVE"))
    own = SERIAL_VIEW.get(c["name"].upper(), {})
    view.update(STYLE_VIEW.get(own.get("style", "Modern"), {}))
    view.update(own)
    return view


# ---------------------------------------------------------------- output

def existing_rows(root):
    """AVR rows of the hand-kept catalogue: name (upper) -> (id, signature)."""
    rows = {}
    text = open(os.path.join(root, "db/sql/catalogue.sql"), encoding="utf-8").read()
    for m in re.finditer(r"\((\d+), 5, '([^']+)', '([0-9A-F]*)'", text):
        rows[m.group(2).upper()] = (int(m.group(1)), m.group(3))
    return rows


def previous_ids(path):
    ids = {}
    if os.path.exists(path):
        for m in re.finditer(r"^\s*\((\d+), 5, '([^']+)'", open(path, encoding="utf-8").read(),
                             re.M):
            ids[m.group(2).upper()] = int(m.group(1))
    return ids


def sig_text(sig):
    return "".join("%02X" % b for b in sig)


def erase_ms(us):
    return math.ceil(us / 1000) if us else 0


def render_sql(chips, existing, ids):
    out = ["-- Generated by scripts/gen-avr-parts.py from avrdude's part data and avr-libc's io",
           "-- headers; edit the script, not this file.",
           "",
           "-- Erase and write times and busy read-back values of the AVRs listed above.", ""]
    unknown = (0, 0, 0, -1, -1, 0)
    for c in sorted((c for c in chips if c["name"].upper() in existing),
                    key=lambda c: existing[c["name"].upper()][0]):
        if (erase_ms(c["erase_us"]), c["fmax"], c["emax"], c["frb"], c["erb"], c["cal"]) == unknown:
            continue  # nothing known beyond what the row says already
        out.append(
            'UPDATE chip SET "擦除时间(ms)" = %d, "FLASH写入时间(us)" = %d, '
            '"EEPROM写入时间(us)" = %d, "FLASH忙读回值" = %d, "EEPROM忙读回值" = %d, '
            '"校准字节数" = %d WHERE chipid = %d;' %
            (erase_ms(c["erase_us"]), c["fmax"], c["emax"], c["frb"], c["erb"], c["cal"],
             existing[c["name"].upper()][0]))
    out += ["",
            "-- Every other classic AVR with the serial programming interface. A chip that shares",
            "-- its signature with an older row is found as that row (detection takes the lowest",
            "-- chipid) and is chosen by name.",
            "",
            'INSERT INTO chip (chipid, "芯片编程方法代号", "芯片名称", "芯片特征码",',
            '                  "芯片FLASHROM容量(B)", "芯片EEPROM容量(B)", "页面大小(AVR)",',
            '                  "擦除时间(ms)", "FLASH写入时间(us)", "EEPROM写入时间(us)",',
            '                  "FLASH忙读回值", "EEPROM忙读回值", "校准字节数") VALUES']
    rows = []
    for c in sorted((c for c in chips if c["name"].upper() not in existing),
                    key=lambda c: ids[c["name"].upper()]):
        rows.append("    (%d, 5, '%s', '%s', %d, %d, %d, %d, %d, %d, %d, %d, %d)" %
                    (ids[c["name"].upper()], c["name"], sig_text(c["sig"]), c["flash"],
                     c["eeprom"], c["page"], erase_ms(c["erase_us"]), c["fmax"], c["emax"],
                     c["frb"], c["erb"], c["cal"]))
    out.append(",\n".join(rows) + ";")
    return "\n".join(out) + "\n"


def c_names(byte):
    if byte is None:
        return "{}"
    return "{" + ", ".join('"%s"' % n if n else "nullptr" for n in byte[0]) + "}"


def used_mask(byte):
    if byte is None:
        return 0
    return sum(1 << i for i, n in enumerate(byte[0]) if n)


def c_bool(v):
    return "true" if v else "false"


def render_inc(chips, idof):
    out = ["// Generated by scripts/gen-avr-parts.py from avrdude's part data, avr-libc's io",
           "// headers and the datasheet tables in the script; edit the script, not this file.",
           "// clang-format off"]
    for c in sorted(chips, key=lambda c: idof(c)):
        present = (1 if c["low"] else 0) | (2 if c["high"] else 0) | (4 if c["ext"] else 0)
        v = c["serial"]
        out.append(
            '{%d, "%s", {0x%02X, 0x%02X, 0x%02X}, %d, %d, %d,\n'
            ' 0x%X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, %d,\n'
            ' %s,\n %s,\n %s,\n'
            ' %d, %d, %d, %d, %d, %d, %d, %d, %s, %s, 0x%02X, 0x%02X, 0x%02X,\n'
            ' AvrConfigStyle::%s, 0x%02X, 0x%02X, %s, AvrFuseByte::%s, %d, %s, %d},' %
            (idof(c), c["name"], *c["sig"], c["flash"], c["eeprom"], c["page"],
             present, v["low"], v["high"], v["ext"], v["low_used"], v["high_used"],
             v["ext_used"], v["lock"], c["cal"],
             c_names(c["low"]), c_names(c["high"]), c_names(c["ext"]),
             c["erase_us"], c["fmin"], c["fmax"], c["emin"], c["emax"], c["frb"], c["erb"],
             c["clock"], c_bool(c["standard"]), c_bool(c["lock_b2"]), *c["writable"],
             v["style"], v["low_fixed"], v["high_fixed"], c_bool(v["fuse_writable"]),
             v["eesave"][0], v["eesave"][1], c_bool(c["echo"]), c["epage"]))
    out.append("// clang-format on")
    return "\n".join(out) + "\n"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--conf", default="/etc/avrdude.conf")
    ap.add_argument("--root", default=os.path.dirname(HERE))
    ap.add_argument("--check", action="store_true")
    args = ap.parse_args()

    sql_path = os.path.join(args.root, "db/sql/catalogue_avr.sql")
    inc_path = os.path.join(args.root, "common/AvrPartData.inc")
    chips = collect(args.conf)
    existing = existing_rows(args.root)
    ids = previous_ids(sql_path)
    next_id = max([55] + [i + 1 for i in ids.values()] + [i + 1 for i, _ in existing.values()])
    for c in sorted(chips, key=lambda c: c["name"].upper()):
        key = c["name"].upper()
        if key not in existing and key not in ids:
            ids[key] = next_id
            next_id += 1

    def idof(c):
        key = c["name"].upper()
        return existing[key][0] if key in existing else ids[key]

    outputs = {sql_path: render_sql(chips, existing, ids), inc_path: render_inc(chips, idof)}
    missing = sorted(set(existing) - {c["name"].upper() for c in chips})
    if missing:
        sys.exit("catalogue AVRs without part data (add them to EXTRA_PARTS): " +
                 ", ".join(missing))
    differs = False
    for path, text in outputs.items():
        old = open(path, encoding="utf-8").read() if os.path.exists(path) else None
        if old != text:
            differs = True
            if args.check:
                print(f"{os.path.relpath(path, args.root)} differs from the generated text",
                      file=sys.stderr)
            else:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(text)
    return 1 if args.check and differs else 0


if __name__ == "__main__":
    sys.exit(main())
