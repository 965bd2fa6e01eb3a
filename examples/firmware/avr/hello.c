/*
 * A 16 x 2 module on an ATmega328P at 16 MHz, over a 4-bit bus:
 *   D4..D7 = PD4..PD7, RS = PB0, E = PB1, RW = PB2 (driven low: this code never reads).
 *
 * Every step starts at a fixed time on Timer1 (4 us ticks), so a trace of it has each step
 * where the schedule below says, whatever the compiler makes of the code between:
 *   50 ms  reset by instruction, then function set 4 bits / 2 lines, display off, clear,
 *          entry mode, display on
 *   70 ms  clear, then line 1
 *   80 ms  line 2
 *
 * Waits: 60 us after each byte and 2.2 ms after clear, which covers the slowest usual
 * oscillator (53 us and 2.16 ms at 190 kHz); E is high for 1 us and low for at least 1 us.
 *
 * Timing faults for tests of a checker, one at a time with -D:
 *   FAULT_EARLY_START       the first bus cycle at 20 ms after power-on, not 50 ms
 *   FAULT_SHORT_RESET_WAIT  1 ms after the first 0x3 of the reset instead of more than 4.1 ms
 *   FAULT_NO_CLEAR_WAIT     the clear at 70 ms gets only the 60 us every byte gets
 *   FAULT_FAST_DATA         line 2's characters follow each other after 10 us
 *   FAULT_SHORT_E           from line 2 on, E is high for two clock cycles (125 ns)
 */
#include <avr/io.h>
#include <stdint.h>
#include <util/delay.h>

#define LCD_RS (1u << PB0)
#define LCD_E (1u << PB1)
#define LCD_RW (1u << PB2)
#define LCD_DATA 0xF0u /* PD4..PD7 */

static uint8_t short_e; /* set for the planted short-pulse fault */

/* Timer1 counts from reset at F_CPU / 64, one tick every 4 us. It starts before the C
   run-time's start-up code, whose length would otherwise shift every step. */
__attribute__((naked, used, section(".init1"))) static void clock_start(void) {
    TCCR1B = (1u << CS11) | (1u << CS10);
}

/* Busy-waits until `ms` milliseconds after power-on. */
static void at_ms(uint16_t ms) {
    const uint16_t tick = (uint16_t)(ms * 250u);
    while (TCNT1 < tick) {
    }
}

/* One E pulse with the high nibble of `bits` on D4..D7 and RS as given. */
static void lcd_nibble(uint8_t bits, uint8_t rs) {
    if (rs) {
        PORTB |= LCD_RS;
    } else {
        PORTB &= (uint8_t)~LCD_RS;
    }
    PORTD = (uint8_t)((PORTD & (uint8_t)~LCD_DATA) | (bits & LCD_DATA));
    _delay_us(1); /* set-up of RS and data */
    if (short_e) {
        /* back to back: high for the two cycles of sbi */
        __asm__ volatile("sbi %0, %1\n\tcbi %0, %1" ::"I"(_SFR_IO_ADDR(PORTB)), "I"(PB1));
    } else {
        PORTB |= LCD_E;
        _delay_us(1);
        PORTB &= (uint8_t)~LCD_E;
    }
    _delay_us(1); /* hold, and E's cycle time */
}

/* One byte as two nibbles, high first, and the wait the chip needs for it. */
static void lcd_byte(uint8_t byte, uint8_t rs, uint8_t wait_us) {
    lcd_nibble(byte, rs);
    lcd_nibble((uint8_t)(byte << 4), rs);
    while (wait_us >= 10) {
        _delay_us(10);
        wait_us = (uint8_t)(wait_us - 10);
    }
}

static void lcd_command(uint8_t command) {
    lcd_byte(command, 0, 60);
}

static void lcd_clear(void) {
    lcd_command(0x01);
    _delay_us(2200);
}

static void lcd_text(const char* text, uint8_t wait_us) {
    while (*text != '\0') {
        lcd_byte((uint8_t)*text++, 1, wait_us);
    }
}

/* The reset by instruction: three 0x3 halves, then 0x2 for a 4-bit bus. */
static void lcd_reset(void) {
    lcd_nibble(0x30, 0);
#ifdef FAULT_SHORT_RESET_WAIT
    _delay_ms(1);
#else
    _delay_ms(5);
#endif
    lcd_nibble(0x30, 0);
    _delay_us(150);
    lcd_nibble(0x30, 0);
    _delay_us(150);
    lcd_nibble(0x20, 0);
    _delay_us(60);
    lcd_command(0x28); /* function set: 4 bits, two lines, 5 x 8 dots */
    lcd_command(0x08); /* display off */
    lcd_clear();
    lcd_command(0x06); /* entry mode: increment, no shift */
    lcd_command(0x0C); /* display on, no cursor */
}

int main(void) {
    DDRB = LCD_RS | LCD_E | LCD_RW;
    DDRD = LCD_DATA;
    PORTB = 0;
    PORTD = 0;

#ifdef FAULT_EARLY_START
    at_ms(20);
#else
    at_ms(50);
#endif
    lcd_reset();

    at_ms(70);
#ifdef FAULT_NO_CLEAR_WAIT
    lcd_command(0x01);
#else
    lcd_clear();
#endif
    lcd_command(0x80); /* line 1 */
    lcd_text("Hello from AVR", 60);

    at_ms(80);
#ifdef FAULT_SHORT_E
    short_e = 1;
#endif
    lcd_command(0xC0); /* line 2 */
#ifdef FAULT_FAST_DATA
    lcd_text("ATmega328P 4-bit", 10);
#else
    lcd_text("ATmega328P 4-bit", 60);
#endif
    for (;;) {
    }
}
