#pragma once

#include <filesystem>
#include <string_view>

namespace platform {

/// The folder the application's images and interface file are loaded from: the install tree's
/// share/trembit beside the binary's bin/ folder when that exists, else the source tree's
/// resources/ folder (a build-tree binary). Found without any environment variable.
const std::filesystem::path& resourcesDirectory();

/// The path of a resource by file name, e.g. "needle.png".
std::filesystem::path resourcePath(std::string_view name);

/// The application's icon drawn `pixels` square (48, 64, 128 or 256): the one the install tree
/// gives the desktop (share/icons/hicolor beside share/trembit), else the source tree's data/icons.
std::filesystem::path iconPath(int pixels);

/// The folder of the message catalogues (`<language>/LC_MESSAGES/trembit.mo`): the install tree's
/// share/locale beside share/trembit, else the build tree's locale folder (a build-tree binary).
std::filesystem::path localeDirectory();

} // namespace platform
