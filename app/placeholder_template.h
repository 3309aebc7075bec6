#pragma once

#include <memory>

#include "device/analyzer_window_factory.h"

// The analyzer-window template the station uses.
std::unique_ptr<DocumentTemplate> MakeDocumentTemplate();

// A bare analyzer window: registers its slot, shows the network number and the link state.
// Used where the full analyzer form is not wanted (shell tests).
std::unique_ptr<DocumentTemplate> MakePlaceholderTemplate();
