#include "lcd/controller.hpp"

namespace vimbra {

namespace {

constexpr unsigned char BLANK = 0x20;
constexpr int SHIFT_RING = CONTROLLER_ONE_LINE_LENGTH; // a multiple of both line rings
constexpr int CGRAM_MASK = CONTROLLER_CGRAM_BYTES - 1;
constexpr int DDRAM_MASK = CONTROLLER_DDRAM_BYTES - 1;

// One step of the counter in DDRAM. The used ranges wrap at the datasheet's points; an address
// outside them (0x28..0x3F and 0x68..0x7F in two-line mode, 0x50..0x7F in one-line mode) is
// stored like any other, never shown, and steps by one within 7 bits, so it walks back into
// a used range.
unsigned char ddram_step(unsigned char ac, bool two_lines, bool up) {
    if (two_lines) {
        if (up && ac == 0x27) {
            return CONTROLLER_LINE2_BASE;
        }
        if (up && ac == 0x67) {
            return 0x00;
        }
        if (!up && ac == CONTROLLER_LINE2_BASE) {
            return 0x27;
        }
        if (!up && ac == 0x00) {
            return 0x67;
        }
    } else {
        if (up && ac == 0x4F) {
            return 0x00;
        }
        if (!up && ac == 0x00) {
            return 0x4F;
        }
    }
    return static_cast<unsigned char>((ac + (up ? 1 : -1)) & DDRAM_MASK);
}

// One step of the counter wherever it points: CGRAM wraps within its 6 bits.
void step_counter(controller_t* ctl, bool up) {
    if (ctl->ac_in_cgram) {
        ctl->ac = static_cast<unsigned char>((ctl->ac + (up ? 1 : -1)) & CGRAM_MASK);
    } else {
        ctl->ac = ddram_step(ctl->ac, ctl->two_lines, up);
    }
}

// `shift` counts positions moved left; a right shift is a left shift by ring - 1.
void shift_display(controller_t* ctl, bool left) {
    ctl->shift = (ctl->shift + (left ? 1 : SHIFT_RING - 1)) % SHIFT_RING;
}

// Clear display.
void clear_display(controller_t* ctl) {
    ctl->ddram.fill(BLANK);
    ctl->ac = 0;
    ctl->ac_in_cgram = false;
    ctl->increment = true;
    ctl->shift = 0;
}

// Return home.
void return_home(controller_t* ctl) {
    ctl->ac = 0;
    ctl->ac_in_cgram = false;
    ctl->shift = 0;
}

// Cursor or display shift: bit 3 S/C, bit 2 R/L.
void cursor_or_display_shift(controller_t* ctl, unsigned char byte) {
    const bool right = (byte & 0x04) != 0;
    if ((byte & 0x08) != 0) {
        shift_display(ctl, !right);
    } else {
        step_counter(ctl, right);
    }
}

// Function set: bit 4 DL, bit 3 N, bit 2 F.
void function_set(controller_t* ctl, unsigned char byte) {
    ctl->eight_bit = (byte & 0x10) != 0;
    ctl->two_lines = (byte & 0x08) != 0;
    ctl->tall_font = (byte & 0x04) != 0;
    if (ctl->eight_bit) {
        ctl->nibble_pending = false; // no half byte survives a switch to the 8-bit bus
    }
}

unsigned char& memory_at_counter(controller_t* ctl) {
    if (ctl->ac_in_cgram) {
        return ctl->cgram[ctl->ac & CGRAM_MASK];
    }
    return ctl->ddram[ctl->ac & DDRAM_MASK];
}

} // namespace

void controller_reset(controller_t* ctl) {
    ctl->ddram.fill(BLANK); // display clear
    ctl->cgram.fill(0);     // undefined on the chip
    ctl->ac = 0;
    ctl->ac_in_cgram = false;
    ctl->shift = 0;
    ctl->eight_bit = true; // function set: DL = 1, N = 0, F = 0
    ctl->two_lines = false;
    ctl->tall_font = false;
    ctl->display_on = false; // display on/off control: D = 0, C = 0, B = 0
    ctl->cursor_on = false;
    ctl->blink_on = false;
    ctl->increment = true; // entry mode set: I/D = 1, S = 0
    ctl->shift_on_write = false;
    ctl->nibble_pending = false;
    ctl->high_nibble = 0;
    ctl->pending_rs = false;
    ctl->pending_rw = false;
    ctl->data_register = 0;
}

void controller_instruction(controller_t* ctl, unsigned char byte) {
    if ((byte & 0x80) != 0) { // set DDRAM address
        ctl->ac = static_cast<unsigned char>(byte & DDRAM_MASK);
        ctl->ac_in_cgram = false;
    } else if ((byte & 0x40) != 0) { // set CGRAM address
        ctl->ac = static_cast<unsigned char>(byte & CGRAM_MASK);
        ctl->ac_in_cgram = true;
    } else if ((byte & 0x20) != 0) { // function set
        function_set(ctl, byte);
    } else if ((byte & 0x10) != 0) { // cursor or display shift
        cursor_or_display_shift(ctl, byte);
    } else if ((byte & 0x08) != 0) { // display on/off control
        ctl->display_on = (byte & 0x04) != 0;
        ctl->cursor_on = (byte & 0x02) != 0;
        ctl->blink_on = (byte & 0x01) != 0;
    } else if ((byte & 0x04) != 0) { // entry mode set
        ctl->increment = (byte & 0x02) != 0;
        ctl->shift_on_write = (byte & 0x01) != 0;
    } else if ((byte & 0x02) != 0) { // return home
        return_home(ctl);
    } else if ((byte & 0x01) != 0) { // clear display
        clear_display(ctl);
    }
}

void controller_data(controller_t* ctl, unsigned char byte) {
    const bool to_ddram = !ctl->ac_in_cgram;
    memory_at_counter(ctl) = to_ddram ? byte : static_cast<unsigned char>(byte & 0x1F);
    step_counter(ctl, ctl->increment);
    if (to_ddram && ctl->shift_on_write) {
        shift_display(ctl, ctl->increment);
    }
}

unsigned char controller_read_busy(const controller_t* ctl) {
    return static_cast<unsigned char>(ctl->ac & DDRAM_MASK); // BF is never set: instant
}

unsigned char controller_read_data(controller_t* ctl) {
    ctl->data_register = memory_at_counter(ctl);
    step_counter(ctl, ctl->increment);
    return ctl->data_register;
}

// A byte whose two halves disagree on RS or RW is taken with the first half's: that is the
// edge that started the transfer, and the second merely completes it.
void controller_bus(controller_t* ctl, bool rs, bool rw, unsigned char data) {
    if (!ctl->eight_bit) {
        if (!ctl->nibble_pending) {
            ctl->nibble_pending = true;
            ctl->high_nibble = static_cast<unsigned char>(data >> 4);
            ctl->pending_rs = rs;
            ctl->pending_rw = rw;
            return;
        }
        ctl->nibble_pending = false;
        data = static_cast<unsigned char>((ctl->high_nibble << 4) | (data >> 4));
        rs = ctl->pending_rs;
        rw = ctl->pending_rw;
    }
    if (rw) {
        if (rs) {
            controller_read_data(ctl);
        } else {
            (void)controller_read_busy(ctl);
        }
    } else if (rs) {
        controller_data(ctl, data);
    } else {
        controller_instruction(ctl, data);
    }
}

int controller_address_at(const controller_t* ctl, int line, int position) {
    const int ring = ctl->two_lines ? CONTROLLER_TWO_LINE_LENGTH : CONTROLLER_ONE_LINE_LENGTH;
    const int lines = ctl->two_lines ? 2 : 1;
    if (line < 0 || line >= lines || position < 0 || position >= ring) {
        return -1;
    }
    const int shift = ((ctl->shift % SHIFT_RING) + SHIFT_RING) % SHIFT_RING;
    return line * CONTROLLER_LINE2_BASE + (position + shift) % ring;
}

const unsigned char* controller_glyph(const controller_t* ctl, unsigned char code) {
    return &ctl->cgram[static_cast<unsigned>(code & 7) * 8];
}

} // namespace vimbra
