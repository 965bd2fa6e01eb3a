#include "chip/i2cbus.hpp"

#include <cstdio>

namespace vimbra {

namespace {

// Roles of the wiring line's places: RS, RW, E, backlight, D4..D7.
constexpr std::array<int, 8> WIRING_ROLES{BUS_RS,     BUS_RW,     BUS_E1,     -1,
                                          BUS_D0 + 4, BUS_D0 + 5, BUS_D0 + 6, BUS_D0 + 7};

void acknowledged(i2cbus_t* bus, const bus_step_t* step) {
    if (bus->address_phase) {
        bus->address_phase = false;
        const int address = static_cast<int>(bus->byte >> 1);
        const bool write = (bus->byte & 1) == 0;
        if (!write) {
            bus->to_display = false;
            return;
        }
        if (bus->address < 0) {
            bus->address = address;
        }
        bus->to_display = address == bus->address;
        if (!bus->to_display && !bus->warned && bus->callbacks.warning != nullptr) {
            bus->warned = true;
            std::array<char, 120> text{};
            std::snprintf(text.data(), text.size(),
                          "writes to I2C address 0x%02X ignored: the display is at 0x%02X",
                          static_cast<unsigned>(address), static_cast<unsigned>(bus->address));
            bus->callbacks.warning(text.data(), bus->callbacks.ctx);
        }
        return;
    }
    if (!bus->to_display) {
        return;
    }
    std::uint32_t levels = 0;
    for (int pin = 0; pin < 8; ++pin) {
        const int role = bus->pin_role[static_cast<std::size_t>(pin)];
        if (role >= 0 && ((bus->byte >> pin) & 1) != 0) {
            levels |= 1u << role;
        }
    }
    const std::uint32_t changed = bus->pins_set ? levels ^ bus->pin_levels : levels;
    const std::uint32_t fresh = bus->pins_set ? 0 : (0xFu | BUS_DATA_MASK);
    bus->pins_set = true;
    bus->pin_levels = levels;
    ++bus->bytes;
    const bus_step_t out{step->time_ps, step->line, changed, levels, fresh};
    bus->callbacks.pins(&out, bus->callbacks.ctx);
}

} // namespace

void i2cbus_start(i2cbus_t* bus, const i2cbus_callbacks_t* callbacks,
                  const std::array<int, 8>& wiring, int address) {
    *bus = i2cbus_t{};
    bus->callbacks = *callbacks;
    bus->pin_role.fill(-1);
    for (std::size_t place = 0; place < wiring.size(); ++place) {
        const int pin = wiring[place];
        if (pin >= 0 && pin < 8) {
            bus->pin_role[static_cast<std::size_t>(pin)] = WIRING_ROLES[place];
        }
    }
    bus->address = address;
}

void i2cbus_step(i2cbus_t* bus, const bus_step_t* step) {
    const bool sda = ((step->levels >> BUS_SDA) & 1) != 0;
    const bool scl = ((step->levels >> BUS_SCL) & 1) != 0;
    const bool was_known = bus->known;
    const bool sda_before = bus->sda;
    const bool scl_before = bus->scl;
    bus->sda = sda;
    bus->scl = scl;
    bus->known = true;
    if (!was_known) {
        return;
    }
    // SDA moving while SCL stays high: START (falling) or STOP (rising).
    if (scl && scl_before && sda != sda_before) {
        if (!sda) {
            bus->in_transfer = true; // a repeated START begins anew as well
            bus->address_phase = true;
            bus->bits = 0;
            bus->byte = 0;
        } else {
            bus->in_transfer = false;
        }
        return;
    }
    if (!bus->in_transfer || !scl || scl_before) {
        return; // only SCL's rising edges sample
    }
    if (bus->bits < 8) {
        bus->byte = (bus->byte << 1) | (sda ? 1u : 0u);
        ++bus->bits;
        return;
    }
    // The ninth clock: the acknowledge (SDA low).
    if (!sda) {
        acknowledged(bus, step);
    } else if (bus->address_phase) {
        bus->address_phase = false;
        bus->to_display = false; // nobody answered: the rest of the transfer is nobody's
    }
    bus->bits = 0;
    bus->byte = 0;
}

} // namespace vimbra
