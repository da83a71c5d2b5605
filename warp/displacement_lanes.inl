// The body of the displacement kernels, compiled once per instruction set by
// warp/displacement_lanes.cpp, inside a namespace that defines kLanes (floats
// per vector) and sqrtLanes (the correctly rounded square root of each lane).
// No include guard: it is meant to be included several times.

using Floats = lanes::Vec<float, kLanes>;
using Ints = lanes::Vec<int32_t, kLanes>;

[[gnu::always_inline]] inline Ints laneIndices() {
    Ints indices{};
    for (int k = 0; k < kLanes; ++k) indices[k] = k;
    return indices;
}

inline void fieldRow(const FieldRows &rows, int32_t j, int32_t *squaredRowDistances) {
    const int32_t y = 2 * j;
    const auto yf = static_cast<float>(y);
    const int32_t n = rows.count;
    for (int32_t k = 0; k < n; ++k) {
        const int32_t dy = y - rows.pointY[k];
        squaredRowDistances[k] = dy * dy;
    }
    const Ints lane = laneIndices();
    const std::size_t rowStart = static_cast<std::size_t>(j) * static_cast<std::size_t>(rows.halfWidth);
    for (int32_t block = 0; block < rows.halfWidth; block += kLanes) {
        // The last block ends at the row's end, overlapping the one before:
        // its pixels are computed twice, to the same bits.
        const int32_t i = block + kLanes <= rows.halfWidth ? block : rows.halfWidth - kLanes;
        const Ints x = (lane + i) * 2;
        Floats u{};
        Floats v{};
        for (int32_t k = n; k-- > 0;) {
            const Ints dx = x - rows.pointX[k];
            const Floats distance = sqrtLanes(lanes::convert<Floats>(dx * dx + squaredRowDistances[k]));
            u += rows.weightX[k] * distance;
            v += rows.weightY[k] * distance;
        }
        // The clamps in the plain order; NaN fails every comparison and stays.
        const Floats xf = lanes::convert<Floats>(x);
        u = xf + u < 1.0f ? 1.0f - xf : u;
        v = yf + v < 1.0f ? 1.0f - yf : v;
        u = xf + u > rows.lastUsableX ? rows.lastUsableX - xf : u;
        v = yf + v > rows.lastUsableY ? rows.lastUsableY - yf : v;
        lanes::store(rows.outX + rowStart + i, u);
        lanes::store(rows.outY + rowStart + i, v);
    }
}

inline bool tableIsExact(const float *table, std::size_t count) {
    std::size_t i = 0;
    const Ints lane = laneIndices();
    for (; i + kLanes <= count; i += kLanes) {
        const Floats expected = sqrtLanes(lanes::convert<Floats>(lane + static_cast<int32_t>(i)));
        if (!lanes::allSet(lanes::load<Floats>(table + i) == expected)) return false;
    }
    for (; i < count; ++i) {
        if (!(table[i] == __builtin_sqrtf(static_cast<float>(i)))) return false;
    }
    return true;
}
