// Counts heap allocations made by the benchmark process: operator new in every form and the C
// allocation functions, so that a path that allocates shows it, whoever asked.
#pragma once

#include <cstdint>

namespace bench {

uint64_t AllocationCount();

}  // namespace bench
