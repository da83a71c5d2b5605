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

// The lanes in reverse order.
template <int... Lane>
[[gnu::always_inline]] inline Floats reversedLanes(Floats value, std::integer_sequence<int, Lane...>) {
    return __builtin_shufflevector(value, value, (kLanes - 1 - Lane)...);
}

// One block of pixels x = 2 * (i + lane): the distances to centre k.
[[gnu::always_inline]] inline Floats computedDistances(const FieldRows &rows, const int32_t *squaredRowDistances,
                                                       int32_t k, const Ints &x) {
    const Ints dx = x - rows.pointX[k];
    return sqrtLanes(lanes::convert<Floats>(dx * dx + squaredRowDistances[k]));
}

// The same from the grid when it holds the whole block (all lanes on one
// side of the centre, so the block's distances are consecutive grid entries,
// in reverse order left of the centre), otherwise computed.
[[gnu::always_inline]] inline Floats gridDistances(const FieldRows &rows, const int32_t *gridOffsets,
                                                   const int32_t *squaredRowDistances, int32_t k, int32_t i,
                                                   const Ints &x) {
    const int32_t offset = gridOffsets[k];
    if (offset >= 0) {
        const int32_t first = 2 * i - rows.pointX[k];  // x offset of the first lane
        if (first >= 0 && (first >> 1) + kLanes <= rows.gridColumns) {
            return lanes::load<Floats>(rows.grid + offset + (first >> 1));
        }
        const int32_t last = -(first + 2 * (kLanes - 1));  // |x offset| of the last lane
        if (last >= 0 && (last >> 1) + kLanes <= rows.gridColumns) {
            return reversedLanes(lanes::load<Floats>(rows.grid + offset + (last >> 1)),
                                 std::make_integer_sequence<int, kLanes>{});
        }
    }
    return computedDistances(rows, squaredRowDistances, k, x);
}

// The clamps in the plain order (NaN fails every comparison and stays), and
// the block's displacements stored.
[[gnu::always_inline]] inline void storeBlock(const FieldRows &rows, int32_t j, int32_t i, const Ints &x, Floats u,
                                              Floats v) {
    const Floats xf = lanes::convert<Floats>(x);
    const float yf = static_cast<float>(2 * j);
    u = xf + u < 1.0f ? 1.0f - xf : u;
    v = yf + v < 1.0f ? 1.0f - yf : v;
    u = xf + u > rows.lastUsableX ? rows.lastUsableX - xf : u;
    v = yf + v > rows.lastUsableY ? rows.lastUsableY - yf : v;
    const std::size_t rowStart = static_cast<std::size_t>(j) * static_cast<std::size_t>(rows.halfWidth);
    lanes::store(rows.outX + rowStart + i, u);
    lanes::store(rows.outY + rowStart + i, v);
}

// Four blocks of the row at once, so that their sums interleave (each lane
// still adds the centres from the last to the first). Square roots and the
// grid's reads take different units of the core: one block in four takes
// its distances by square roots, the others from the grid, which measured
// fastest (the square roots alone are the unit's limit, 16 per 7 cycles).
inline void fieldFourBlocks(const FieldRows &rows, int32_t j, const int32_t *i, const int32_t *squaredRowDistances,
                            const int32_t *gridOffsets) {
    const Ints x0 = (laneIndices() + i[0]) * 2;
    const Ints x1 = (laneIndices() + i[1]) * 2;
    const Ints x2 = (laneIndices() + i[2]) * 2;
    const Ints x3 = (laneIndices() + i[3]) * 2;
    Floats u0{}, v0{}, u1{}, v1{}, u2{}, v2{}, u3{}, v3{};
    for (int32_t k = rows.count; k-- > 0;) {
        const float weightX = rows.weightX[k];
        const float weightY = rows.weightY[k];
        const Floats d0 = computedDistances(rows, squaredRowDistances, k, x0);
        const Floats d1 = gridDistances(rows, gridOffsets, squaredRowDistances, k, i[1], x1);
        const Floats d2 = gridDistances(rows, gridOffsets, squaredRowDistances, k, i[2], x2);
        const Floats d3 = gridDistances(rows, gridOffsets, squaredRowDistances, k, i[3], x3);
        u0 += weightX * d0;
        v0 += weightY * d0;
        u1 += weightX * d1;
        v1 += weightY * d1;
        u2 += weightX * d2;
        v2 += weightY * d2;
        u3 += weightX * d3;
        v3 += weightY * d3;
    }
    storeBlock(rows, j, i[0], x0, u0, v0);
    storeBlock(rows, j, i[1], x1, u1, v1);
    storeBlock(rows, j, i[2], x2, u2, v2);
    storeBlock(rows, j, i[3], x3, u3, v3);
}

inline void fieldOneBlock(const FieldRows &rows, int32_t j, int32_t i, const int32_t *squaredRowDistances,
                          const int32_t *gridOffsets) {
    const Ints x = (laneIndices() + i) * 2;
    Floats u{}, v{};
    for (int32_t k = rows.count; k-- > 0;) {
        const Floats d = gridDistances(rows, gridOffsets, squaredRowDistances, k, i, x);
        u += rows.weightX[k] * d;
        v += rows.weightY[k] * d;
    }
    storeBlock(rows, j, i, x, u, v);
}

inline void fieldRow(const FieldRows &rows, int32_t j, int32_t *scratch) {
    const int32_t y = 2 * j;
    const int32_t n = rows.count;
    int32_t *squaredRowDistances = scratch;
    int32_t *gridOffsets = scratch + n;
    for (int32_t k = 0; k < n; ++k) {
        const int32_t dy = y - rows.pointY[k];
        squaredRowDistances[k] = dy * dy;
        const int32_t b = dy < 0 ? -dy : dy;
        gridOffsets[k] = rows.grid != nullptr && b < rows.gridRows
                             ? (2 * b + (rows.pointX[k] & 1)) * rows.gridColumns
                             : -1;
    }
    // The last block ends at the row's end, overlapping the one before: its
    // pixels are computed twice, to the same bits.
    const int32_t blockCount = (rows.halfWidth + kLanes - 1) / kLanes;
    const auto start = [&](int32_t block) { return std::min(block * kLanes, rows.halfWidth - kLanes); };
    int32_t block = 0;
    for (; block + 4 <= blockCount; block += 4) {
        const int32_t starts[4] = {start(block), start(block + 1), start(block + 2), start(block + 3)};
        fieldFourBlocks(rows, j, starts, squaredRowDistances, gridOffsets);
    }
    for (; block < blockCount; ++block) fieldOneBlock(rows, j, start(block), squaredRowDistances, gridOffsets);
}

inline void gridRow(const FieldRows &rows, int32_t b) {
    const int32_t columns = rows.gridColumns;
    const Ints lane = laneIndices();
    for (int32_t parity = 0; parity < 2; ++parity) {
        float *out = rows.grid + static_cast<std::size_t>(2 * b + parity) * static_cast<std::size_t>(columns);
        int32_t m = 0;
        for (; m + kLanes <= columns; m += kLanes) {
            const Ints dx = (lane + m) * 2 + parity;
            lanes::store(out + m, sqrtLanes(lanes::convert<Floats>(dx * dx + b * b)));
        }
        for (; m < columns; ++m) {
            const int32_t dx = 2 * m + parity;
            out[m] = __builtin_sqrtf(static_cast<float>(dx * dx + b * b));
        }
    }
}

inline bool tableIsExact(const float *table, std::size_t first, std::size_t count) {
    std::size_t i = first;
    const std::size_t end = first + count;
    const Ints lane = laneIndices();
    for (; i + kLanes <= end; i += kLanes) {
        const Floats expected = sqrtLanes(lanes::convert<Floats>(lane + static_cast<int32_t>(i)));
        if (!lanes::allSet(lanes::load<Floats>(table + i) == expected)) return false;
    }
    for (; i < end; ++i) {
        if (!(table[i] == __builtin_sqrtf(static_cast<float>(i)))) return false;
    }
    return true;
}
