// Option menus and resource files of the helper layer (fileIO.select_option,
// fileIO.get_resource_path).
#pragma once

#include "vaskern/app_logging.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vaskern::fileIO {

// Shows `title` (when not empty) and the numbered options, then asks "<prompt_text> [<default>]: "
// until the answer is the number of an option; Enter takes `default_` (a 1-based position as
// text). Returns the chosen option's text. End of input throws vaskit::cli::Abort; an empty
// option list throws std::invalid_argument.
std::string select_option(const std::string &prompt_text,
                          const std::vector<std::string> &option_array,
                          const std::string &default_ = "1", const std::string &title = "");

// The absolute path of the resource file `resource_name` of the package `package_name` (for
// example "vaskit.goal"): first in the folder named by VASKIT_RESOURCES (its subfolder "goal" for
// "vaskit.goal"), then among the resources installed with the tools (share/vaskit/goal beside
// the executable's bin folder), then in `fallback_dir`. nullopt when it is in none of them, or
// when `resource_name` is not a plain file name.
std::optional<std::filesystem::path> get_resource_path(const std::string &package_name,
                                                       const std::string &resource_name,
                                                       const std::filesystem::path &fallback_dir,
                                                       const app_logging::Logger *logger = nullptr);

// The folder of the running executable (the module's own folder, in the tools' terms).
std::filesystem::path executable_dir();

} // namespace vaskern::fileIO
