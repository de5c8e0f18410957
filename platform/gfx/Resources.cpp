#include "platform/gfx/Resources.h"

#include <string>
#include <system_error>

namespace platform {

namespace {

std::filesystem::path findResourcesDirectory() {
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path installed =
            executable.parent_path().parent_path() / TREMBIT_INSTALL_DATADIR;
        if (std::filesystem::is_directory(installed, error)) {
            return installed;
        }
    }
    return std::filesystem::path(TREMBIT_SOURCE_RESOURCES_DIR);
}

} // namespace

const std::filesystem::path& resourcesDirectory() {
    static const std::filesystem::path directory = findResourcesDirectory();
    return directory;
}

std::filesystem::path resourcePath(std::string_view name) {
    return resourcesDirectory() / name;
}

std::filesystem::path iconPath(int pixels) {
    const std::string size = std::to_string(pixels);
    if (resourcesDirectory() == std::filesystem::path(TREMBIT_SOURCE_RESOURCES_DIR)) {
        return std::filesystem::path(TREMBIT_SOURCE_ICONS_DIR) / ("trembit-" + size + ".png");
    }
    return resourcesDirectory().parent_path() / "icons/hicolor" / (size + "x" + size) / "apps" /
           TREMBIT_APP_ID ".png";
}

std::filesystem::path localeDirectory() {
    if (resourcesDirectory() == std::filesystem::path(TREMBIT_SOURCE_RESOURCES_DIR)) {
        return std::filesystem::path(TREMBIT_BUILD_LOCALE_DIR);
    }
    return resourcesDirectory().parent_path() / "locale";
}

} // namespace platform
