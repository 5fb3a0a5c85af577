; Sample firmware for a PIC16F877A: counts on PORTB. Built with gpasm (see build.sh).
        list    p=16f877a
        include "p16f877a.inc"
        __config _CP_OFF & _DEBUG_OFF & _WRT_OFF & _CPD_OFF & _LVP_OFF & _BODEN_ON & _PWRTE_ON & _WDT_OFF & _XT_OSC
        __idlocs 0x1234

        org     0x0000
        goto    start
        org     0x0005
start:  bsf     STATUS, RP0
        clrf    TRISB
        bcf     STATUS, RP0
        clrf    PORTB
loop:   incf    PORTB, f
        call    wait
        goto    loop
wait:   decfsz  0x20, f
        goto    wait
        return

        org     0x2100
        de      "tondrel", 0
        end
