// Records the largest single heap request of the test process, so that a
// test can show a forged count was refused before anything was allocated
// for it. The probe replaces the global operator new and delete.
#pragma once

#include <cstddef>

namespace allocation_probe {
// Forgets the requests seen so far.
void Reset();
// Largest request since the last Reset, in bytes.
std::size_t Largest();
}  // namespace allocation_probe
