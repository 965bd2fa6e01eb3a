// Product name, notice and version for the banner.
#pragma once

#include <array>
#include <string>

namespace vimbra {

struct version_info_t {
    std::array<char, 8192> product_name;
    std::array<char, 8192> notice;
    int major;
    int minor;
    int revision;
};

// Fills all five fields.
void version_info(version_info_t* info);
// "MAJOR.MINOR.REVISION".
std::string version_number();
// The positional form's banner, on standard output.
void version_print_banner();

} // namespace vimbra
