/* Sample firmware for an ATmega16: blinks PORTB with a pattern table kept in EEPROM.
   Built with avr-gcc (see build.sh); the .eep file holds the EEPROM data. */
#include <avr/eeprom.h>
#include <avr/io.h>
#include <util/delay.h>

static const uint8_t Patterns[16] EEMEM = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80,
                                           0x81, 0x42, 0x24, 0x18, 0x24, 0x42, 0x81, 0xFF};
static const char Banner[] EEMEM = "tondrel sample";

int main(void) {
    DDRB = 0xFF;
    uint8_t i = 0;
    for (;;) {
        PORTB = eeprom_read_byte(&Patterns[i & 15]);
        if (eeprom_read_byte((const uint8_t*)&Banner[0]) != 't') PORTB = 0;
        _delay_ms(200);
        ++i;
    }
}
