// The simulated Windows platform, as the cleaner sees it on the host.
#pragma once

#include "base.h"      // IWYU pragma: export
#include "files.h"     // IWYU pragma: export
#include "msi.h"       // IWYU pragma: export
#include "net.h"       // IWYU pragma: export
#include "registry.h"  // IWYU pragma: export
#include "services.h"  // IWYU pragma: export
