#!/usr/bin/env python3
"""Generates the AVR part data the program compiles in, from two public sources:

  * avrdude's part descriptions (/etc/avrdude.conf): signature, memory sizes, page size,
    programming interfaces, erase and write times, busy read-back values, calibration bytes;
  * avr-libc's io headers (through avr-gcc -E): fuse bit names and positions, the factory fuse
    values (*FUSE_DEFAULT) and which lock bits exist.

It writes
  db/sql/catalogue_avr.sql  the timing columns of the AVR rows already in the catalogue and a
                            row for every other classic serial-ISP AVR;
  common/AvrPartData.inc    one AvrPartData initializer per AVR (simulated chips, the generic
                            configuration view).

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
            for bit_name, pos, where in pending:
                names.setdefault(where or byte, [None] * 8)[pos] = bit_name
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


def collect(conf):
    chips = []
    for part in parse_conf(conf):
        if not classic_isp(part):
            continue
        f, m = part["fields"], part["memories"]
        desc = f["desc"][0]
        flash, eeprom = m["flash"], m.get("eeprom", {})
        paged = (flash.get("paged") or ["no"])[0] == "yes"
        libc = libc_facts(desc)
        if libc is None and part["parent"]:  # a newer variant avr-libc does not know yet
            libc = libc_facts(part["parent"])
        fuses = libc["fuses"] if libc else {}
        if any(d is None for _, d in fuses.values()):  # header without factory values
            parent = libc_facts(part["parent"]) if part["parent"] else None
            for byte, (names, d) in list(fuses.items()):
                if d is None:
                    known = parent and parent["fuses"].get(byte)
                    if known and known[1] is not None and known[0] == names:
                        fuses[byte] = (names, known[1])
                    elif desc.upper() in FUSE_DEFAULT_OVERRIDES:
                        fuses[byte] = (names, FUSE_DEFAULT_OVERRIDES[desc.upper()][byte])
                    else:
                        sys.exit(f"{desc}: no factory value for its {byte} fuse byte")
        low = fuses.get("low") if ("lfuse" in m or "fuse" in m) else None
        high = fuses.get("high") if "hfuse" in m else None
        ext = fuses.get("ext") if "efuse" in m else None
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
            "low": low, "high": high, "ext": ext,
            "lock": libc["lock"] if libc else 0,
            "libc": libc is not None,
            "standard": standard_commands(part) and libc is not None,
            "clock": factory_clock(desc, low),
            # 0xAC 1111 11ii: the lock bits travel in the second byte (ATtiny26/261/461/861).
            "lock_b2": pattern_starts((m.get("lock", {}).get("write") or [""])[0],
                                      "1010.1100--1111.11ii"),
        })
    return chips


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
    for c in sorted((c for c in chips if c["name"].upper() in existing),
                    key=lambda c: existing[c["name"].upper()][0]):
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


def render_inc(chips, idof):
    out = ["// Generated by scripts/gen-avr-parts.py from avrdude's part data and avr-libc's io",
           "// headers; edit the script, not this file.",
           "// clang-format off"]
    for c in sorted(chips, key=lambda c: idof(c)):
        present = (1 if c["low"] else 0) | (2 if c["high"] else 0) | (4 if c["ext"] else 0)
        out.append(
            '{%d, "%s", {0x%02X, 0x%02X, 0x%02X}, %d, %d, %d,\n'
            ' 0x%X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, 0x%02X, %d,\n'
            ' %s,\n %s,\n %s,\n'
            ' %d, %d, %d, %d, %d, %d, %d, %d, %s, %s},' %
            (idof(c), c["name"], *c["sig"], c["flash"], c["eeprom"], c["page"],
             present, c["low"][1] if c["low"] else 0xFF, c["high"][1] if c["high"] else 0xFF,
             c["ext"][1] if c["ext"] else 0xFF, used_mask(c["low"]), used_mask(c["high"]),
             used_mask(c["ext"]), c["lock"], c["cal"],
             c_names(c["low"]), c_names(c["high"]), c_names(c["ext"]),
             c["erase_us"], c["fmin"], c["fmax"], c["emin"], c["emax"], c["frb"], c["erb"],
             c["clock"], "true" if c["standard"] else "false",
             "true" if c["lock_b2"] else "false"))
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
        print("catalogue AVRs without part data (timing left unknown): " + ", ".join(missing),
              file=sys.stderr)
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
