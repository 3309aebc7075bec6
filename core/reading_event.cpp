// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/reading_event.h"
