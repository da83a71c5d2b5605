// Small numeric conversions shared by the units.
#pragma once

#include <cmath>
#include <cstdint>

namespace kelmo {

// Truncates toward zero to a 32-bit integer, as every float-to-pixel and
// float-to-index conversion of the library does. Values a plain C++
// conversion leaves undefined (NaN, beyond the int32 range) are made defined
// here: NaN gives 0 and the rest saturate.
template <typename Real>
int32_t truncateToInt32(Real value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<Real>(2147483647.0)) return INT32_MAX;
    if (value <= static_cast<Real>(-2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(value);
}

}  // namespace kelmo
