-- Rows the program relies on. Every statement only adds what is missing, so this runs at each
-- open without touching a user's values.

-- First-start settings: language not chosen yet (the language dialog appears), microcontroller
-- download mode, no tool launch, erase + write Flash + write EEPROM, sound on, LPT1.
INSERT INTO settings (launch, isRunProgram, language, isUpdateFlash, isUpdateEEProm, isEraseAll,
                      isProgramFlash, isProgramEEProm, sound, LPT)
SELECT 1, 0, 0, 0, 0, 1, 1, 1, 1, 1
WHERE NOT EXISTS (SELECT 1 FROM settings);

-- One external tool per download mode; empty until the user sets one.
INSERT OR IGNORE INTO path (name, path) VALUES
    ('mcu', ''), ('altera', ''), ('xilinx', ''), ('lattice', ''),
    ('eeprom', ''), ('arm', ''), ('msp430', '');

-- What each adapter kind serves, listed from the catalogue so the two never disagree.
-- Kinds 1 and 2 (the adapters with a controller) drive every engine; kind 3, a plain Altera
-- cable, has no controller and is only good for the Atmel chips (AT89S and AVR).
INSERT OR IGNORE INTO support (chipID, support)
SELECT kind.id,
       kind.title || char(10) ||
       (CASE WHEN kind.id = 3 THEN '' ELSE
           'PIC: ' || (SELECT ifnull(group_concat(n, ', '), '') FROM
               (SELECT "芯片名称" AS n FROM chip WHERE "芯片编程方法代号" IN (0, 6)
                ORDER BY "芯片编程方法代号", "芯片名称")) || char(10) END) ||
       'AT89S: ' || (SELECT ifnull(group_concat(n, ', '), '') FROM
           (SELECT "芯片名称" AS n FROM chip WHERE "芯片编程方法代号" BETWEEN 1 AND 4
            ORDER BY "芯片编程方法代号", "芯片名称")) || char(10) ||
       'AVR: ' || (SELECT ifnull(group_concat(n, ', '), '') FROM
           (SELECT "芯片名称" AS n FROM chip WHERE "芯片编程方法代号" = 5
            ORDER BY "芯片名称"))
FROM (SELECT 1 AS id, '>>轻捷I型 (Brisk I) 支持的芯片 / supported chips:' AS title
      UNION ALL
      SELECT 2, '>>典雅II型 (Regal II) 支持的芯片 / supported chips:'
      UNION ALL
      SELECT 3, '>>ALTERA 下载线 (download cable) 支持的芯片 / supported chips:') AS kind;
