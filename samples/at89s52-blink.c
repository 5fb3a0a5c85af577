/* Sample firmware for an AT89S52: runs a light along port 1. Built with sdcc (see build.sh). */
#include <8052.h>

static void Delay(unsigned int n) {
    while (n--) {
        unsigned char i = 120;
        while (i--) {
        }
    }
}

void main(void) {
    unsigned char pattern = 0x01;
    for (;;) {
        P1 = (unsigned char)~pattern;
        Delay(250);
        pattern = (unsigned char)((pattern << 1) | (pattern >> 7));
    }
}
