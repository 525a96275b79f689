// SPDX-License-Identifier: GPL-3.0-or-later
// Heap allocations made by this process so far, counted at malloc, calloc
// and realloc (Qt's containers allocate through them, as does operator new).
#pragma once

namespace quelmar::bench {

long long allocationCount();

} // namespace quelmar::bench
