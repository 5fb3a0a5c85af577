-- The chip catalogue: one row per chip type. chipid is also the key of table speed and picks
-- the configuration dialog. The signature is the text the engine's ReadSignature renders:
-- six hex digits for AT89S51/52 and AVR, four for PIC (device ID with the revision bits
-- cleared), empty for the AT89S53/8252/8253, which cannot be identified and are chosen by
-- hand. PIC Flash sizes are in bytes (two per 14-bit word).

INSERT INTO chip (chipid, "芯片编程方法代号", "芯片名称", "芯片特征码",
                  "芯片FLASHROM容量(B)", "芯片EEPROM容量(B)", "页面大小(AVR)") VALUES
    (4, 5, 'AT90S1200', '1E9001', 1024, 64, 0),
    (5, 5, 'ATmega16', '1E9403', 16384, 512, 128),
    (6, 0, 'PIC16F877', '09A0', 16384, 256, 0),
    (7, 0, 'PIC16F84A', '0560', 2048, 64, 0),
    (8, 5, 'AT90S2313', '1E9101', 2048, 128, 0),
    (9, 5, 'AT90S2323', '1E9102', 2048, 128, 0),
    (10, 5, 'AT90S2343', '1E9103', 2048, 128, 0),
    (11, 5, 'AT90S2333', '1E9105', 2048, 128, 0),
    (12, 5, 'AT90S4433', '1E9203', 4096, 256, 0),
    (13, 5, 'AT90S4414', '1E9201', 4096, 256, 0),
    (14, 5, 'AT90S8515', '1E9301', 8192, 512, 0),
    (15, 5, 'AT90S4434', '1E9202', 4096, 256, 0),
    (16, 5, 'AT90S8535', '1E9303', 8192, 512, 0),
    (17, 5, 'ATmega161', '1E9401', 16384, 512, 128),
    (18, 5, 'ATmega64', '1E9602', 65536, 2048, 256),
    (19, 5, 'ATmega103', '1E9701', 131072, 4096, 256),
    (20, 5, 'AT90CAN128', '1E9781', 131072, 4096, 256),
    (21, 5, 'ATmega162', '1E9404', 16384, 512, 128),
    (22, 5, 'ATmega163', '1E9402', 16384, 512, 128),
    (23, 5, 'ATmega48', '1E9205', 4096, 256, 64),
    (24, 5, 'ATmega88', '1E930A', 8192, 512, 64),
    (25, 5, 'ATmega168', '1E9406', 16384, 512, 128),
    (26, 5, 'ATmega169', '1E9405', 16384, 512, 128),
    (27, 5, 'ATmega32', '1E9502', 32768, 1024, 128),
    (28, 5, 'ATmega128', '1E9702', 131072, 4096, 256),
    (29, 5, 'ATmega8515', '1E9306', 8192, 512, 64),
    (30, 5, 'ATmega8535', '1E9308', 8192, 512, 64),
    (31, 5, 'ATmega323', '1E9501', 32768, 1024, 128),
    (32, 5, 'ATtiny12', '1E9005', 1024, 64, 0),
    (33, 5, 'ATtiny13', '1E9007', 1024, 64, 32),
    (34, 5, 'ATtiny15', '1E9006', 1024, 64, 0),
    (35, 5, 'ATtiny2313', '1E910A', 2048, 128, 32),
    (36, 5, 'ATtiny26', '1E9109', 2048, 128, 32),
    (37, 1, 'AT89S51', '1E5106', 4096, 0, 0),
    (38, 1, 'AT89S52', '1E5206', 8192, 0, 0),
    (39, 2, 'AT89S53', '', 12288, 0, 0),
    (40, 3, 'AT89S8252', '', 8192, 2048, 0),
    (41, 4, 'AT89S8253', '', 12288, 2048, 0),
    (42, 0, 'PIC16F870', '0D00', 4096, 64, 0),
    (43, 0, 'PIC16F871', '0D20', 4096, 64, 0),
    (44, 0, 'PIC16F872', '08E0', 4096, 64, 0),
    (45, 0, 'PIC16F873', '0960', 8192, 128, 0),
    (46, 0, 'PIC16F874', '0920', 8192, 128, 0),
    (47, 0, 'PIC16F628', '07C0', 4096, 128, 0),
    (48, 0, 'PIC16F876', '09E0', 16384, 256, 0),
    (49, 5, 'ATtiny22', '1E9106', 2048, 128, 0),
    (50, 6, 'PIC16F873A', '0E40', 8192, 128, 0),
    (51, 6, 'PIC16F874A', '0E60', 8192, 128, 0),
    (52, 6, 'PIC16F876A', '0E00', 16384, 256, 0),
    (53, 6, 'PIC16F877A', '0E20', 16384, 256, 0),
    (54, 5, 'ATmega8', '1E9307', 8192, 512, 64);

-- AT89S51/52 datasheets: chip erase takes 500 ms. The AVR rows' times come with the generated
-- rows (catalogue_avr.sql, appended to this text).
UPDATE chip SET "擦除时间(ms)" = 500 WHERE chipid IN (37, 38);
-- PIC rows: the Begin Erase/Programming cycle the engine waits out after each program word,
-- data byte and configuration word (programming specifications: 16F84A 10 ms; 16F87x 4 ms
-- erase + 4 ms program; 16F627/628 5 + 8 ms; 16F87xA 10 ms, that of configuration and data
-- memory, as their program words go in with the shorter Begin Programming Only).
UPDATE chip SET "FLASH写入时间(us)" = 10000 WHERE chipid = 7;
UPDATE chip SET "FLASH写入时间(us)" = 8000 WHERE chipid IN (6, 42, 43, 44, 45, 46, 48);
UPDATE chip SET "FLASH写入时间(us)" = 13000 WHERE chipid = 47;
UPDATE chip SET "FLASH写入时间(us)" = 10000 WHERE chipid IN (50, 51, 52, 53);
