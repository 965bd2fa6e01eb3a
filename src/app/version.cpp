#include "app/version.hpp"

#include <cstdio>

namespace vimbra {

// The build passes the project's version in, so the banner and the package always agree.
#if !defined(VIMBRA_VERSION_MAJOR) || !defined(VIMBRA_VERSION_MINOR) ||                            \
    !defined(VIMBRA_VERSION_PATCH)
#error "VIMBRA_VERSION_MAJOR, _MINOR and _PATCH come from the build (CMakeLists.txt)"
#endif

void version_info(version_info_t* info) {
    info->product_name.fill('\0');
    info->notice.fill('\0');
    std::snprintf(info->product_name.data(), info->product_name.size(), "%s", "Vimbra");
    std::snprintf(info->notice.data(), info->notice.size(), "%s", "Character LCD picture maker");
    info->major = VIMBRA_VERSION_MAJOR;
    info->minor = VIMBRA_VERSION_MINOR;
    info->revision = VIMBRA_VERSION_PATCH;
}

std::string version_number() {
    return std::to_string(VIMBRA_VERSION_MAJOR) + "." + std::to_string(VIMBRA_VERSION_MINOR) + "." +
           std::to_string(VIMBRA_VERSION_PATCH);
}

void version_print_banner() {
    version_info_t info;
    version_info(&info);
    const char* rule = "=================================================";
    std::puts(rule);
    std::printf(" %s (Version %d.%d.%d)\n", info.product_name.data(), info.major, info.minor,
                info.revision);
    std::printf(" %s\n", info.notice.data());
    std::puts(rule);
    std::puts("");
    std::puts(" vimbracli [LCD Profile] [LCD Font] [BMP Output File Name] [Line 1] [Line 2] ...");
    std::puts("");
}

} // namespace vimbra
