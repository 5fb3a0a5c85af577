-- tondrel chip database, schema version 2.
-- Column names and their order are part of the program's interface: the chip dialog shows
-- "select * from chip" and reads the name at position 2.

CREATE TABLE chip (
    chipid                 INTEGER PRIMARY KEY,
    "芯片编程方法代号"       INTEGER NOT NULL,
    "芯片名称"              TEXT    NOT NULL COLLATE NOCASE,
    "芯片特征码"            TEXT    NOT NULL DEFAULT '',
    "芯片FLASHROM容量(B)"   INTEGER NOT NULL DEFAULT 0,
    "芯片EEPROM容量(B)"     INTEGER NOT NULL DEFAULT 0,
    "页面大小(AVR)"         INTEGER NOT NULL DEFAULT 0,
    -- Erase and write times (worst case) and the values a location reads while its write is
    -- in progress ((first << 8) | second); 0 and -1 = not known. Calibration bytes (AVR).
    "擦除时间(ms)"          INTEGER NOT NULL DEFAULT 0,
    "FLASH写入时间(us)"     INTEGER NOT NULL DEFAULT 0,
    "EEPROM写入时间(us)"    INTEGER NOT NULL DEFAULT 0,
    "FLASH忙读回值"         INTEGER NOT NULL DEFAULT -1,
    "EEPROM忙读回值"        INTEGER NOT NULL DEFAULT -1,
    "校准字节数"            INTEGER NOT NULL DEFAULT 0
);

CREATE INDEX chip_by_method ON chip ("芯片编程方法代号", "芯片名称");

-- At most one row per chip.
CREATE TABLE speed (
    chipid INTEGER PRIMARY KEY,
    speed  INTEGER NOT NULL
);

-- Exactly one row; the program's updates carry no condition.
CREATE TABLE settings (
    launch          INTEGER NOT NULL DEFAULT 1,
    isRunProgram    INTEGER NOT NULL DEFAULT 0,
    language        INTEGER NOT NULL DEFAULT 0,
    isUpdateFlash   INTEGER NOT NULL DEFAULT 0,
    isUpdateEEProm  INTEGER NOT NULL DEFAULT 0,
    isEraseAll      INTEGER NOT NULL DEFAULT 1,
    isProgramFlash  INTEGER NOT NULL DEFAULT 1,
    isProgramEEProm INTEGER NOT NULL DEFAULT 1,
    sound           INTEGER NOT NULL DEFAULT 1,
    LPT             INTEGER NOT NULL DEFAULT 1
);

-- The lookup and the update spell some keys in different letter case ("EEProm" / "eeprom").
CREATE TABLE path (
    name TEXT PRIMARY KEY COLLATE NOCASE,
    path TEXT NOT NULL DEFAULT ''
);

-- Keyed by the adapter kind that hardware detection reports (1, 2 or 3).
CREATE TABLE support (
    chipID  INTEGER PRIMARY KEY,
    support TEXT NOT NULL DEFAULT ''
);
