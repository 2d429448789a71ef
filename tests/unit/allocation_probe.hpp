// The largest single heap allocation made while a probe is alive, to show
// that a decoder refuses a hostile size before it allocates anything for
// it. Every allocation of the process counts (libpng's included), whatever
// the thread.
#pragma once

#include <cstddef>

namespace allocation_probe {

class Largest {
public:
    Largest();   // starts recording from 0
    ~Largest();  // stops
    Largest(const Largest&) = delete;
    Largest& operator=(const Largest&) = delete;
    std::size_t bytes() const;
};

}  // namespace allocation_probe
