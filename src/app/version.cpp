#include "app/version.hpp"

#include <cstdio>

void version_info(version_info_t* info) {
    info->product_name.fill('\0');
    info->notice.fill('\0');
    std::snprintf(info->product_name.data(), info->product_name.size(), "%s", "Vimbra");
    std::snprintf(info->notice.data(), info->notice.size(), "%s", "Character LCD picture maker");
    info->major = 1;
    info->minor = 0;
    info->revision = 0;
}
