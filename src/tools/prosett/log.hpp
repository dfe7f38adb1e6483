// The converter's logger, "Prosett", shared by the pass and every stage.
#pragma once

#include "vaskern/app_logging.hpp"

namespace vaskit::prosett {

vaskern::app_logging::Logger &log();

} // namespace vaskit::prosett
