// The removal itself, in its fixed order, once the product is identified.
#pragma once

#include "src/driver/cleanup_target.h"

// Runs every cleanup action for the target. Each action logs its own
// outcome; nothing stops the sequence.
void RunCleanupSequence(const CleanupTarget& target);
