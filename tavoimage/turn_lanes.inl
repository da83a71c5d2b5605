// The turn's inner span on lanes, included once per instruction set inside
// its namespace (tavoimage/image_ops.cpp), after kLanes (doubles per
// register), kConvertsQuadwords (whether 64-bit integers convert to double
// in one instruction) and gatherPairs<Word> (kLanes words of 32 or 64 bits
// at byte offsets from a base) for that instruction set.

// N pixels whose channel c is byte c of their lane, stored one after another
// (one shuffle drops the unused bytes, one copy stores the rest).
template <int Channels, int N>
[[gnu::always_inline]] inline void storePixels(const kelmo::lanes::Vec<uint32_t, N> &packed, uint8_t *out) {
    using Bytes = kelmo::lanes::Vec<uint8_t, 4 * N>;
    Bytes bytes;
    std::memcpy(&bytes, &packed, sizeof bytes);
    if constexpr (Channels == 4) {
        std::memcpy(out, &bytes, 4 * N);
        return;
    } else if constexpr (Channels == 3 && N == 8) {
        bytes = __builtin_shufflevector(bytes, bytes, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 18, 20, 21, 22, 24,
                                        25, 26, 28, 29, 30, 0, 0, 0, 0, 0, 0, 0, 0);
    } else if constexpr (Channels == 3 && N == 4) {
        bytes = __builtin_shufflevector(bytes, bytes, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 0, 0, 0, 0);
    } else if constexpr (Channels == 3 && N == 2) {
        bytes = __builtin_shufflevector(bytes, bytes, 0, 1, 2, 4, 5, 6, 0, 0);
    } else if constexpr (Channels == 1 && N == 8) {
        bytes = __builtin_shufflevector(bytes, bytes, 0, 4, 8, 12, 16, 20, 24, 28, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    } else if constexpr (Channels == 1 && N == 4) {
        bytes = __builtin_shufflevector(bytes, bytes, 0, 4, 8, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    } else {
        static_assert(Channels == 1 && N == 2);
        bytes = __builtin_shufflevector(bytes, bytes, 0, 4, 0, 0, 0, 0, 0, 0);
    }
    std::memcpy(out, &bytes, Channels * N);
}

// Turns the destination pixels begin .. end - 1 of one row (all in the inner
// span), kLanes at a time; returns the first pixel it left (fewer than
// kLanes remain).
template <int Channels>
std::size_t turnSpan(const TurnRow &row, std::size_t begin, std::size_t end, uint8_t *out) {
    constexpr int N = kLanes;
    using namespace kelmo::lanes;
    using Doubles = Vec<double, N>;
    using Ints = Vec<int32_t, N>;
    using Words = Vec<uint32_t, N>;
    using Pair = PairWords<Channels>;
    std::size_t x = begin;
    for (; x + N <= end; x += N) {
        // The positions, summed as the plain loop sums them.
        const Doubles sourceX = row.startX + load<Doubles>(row.alongX + x);
        const Doubles sourceY = row.startY - load<Doubles>(row.alongY + x);
        const Ints lowerX = convert<Ints>(sourceX);  // truncation: the positions are not negative
        const Ints lowerY = convert<Ints>(sourceY);
        const Doubles fx = sourceX - convert<Doubles>(lowerX);
        const Doubles fy = sourceY - convert<Doubles>(lowerY);
        const Ints upper = lowerY * row.rowBytes + lowerX * Channels;
        const auto upperPair = gatherPairs<typename Pair::Word>(row.pixels, upper + Pair::kUpperAt);
        const auto lowerPair = gatherPairs<typename Pair::Word>(row.pixels, upper + (row.rowBytes + Pair::kLowerAt));
        Words packed{};
#pragma GCC unroll 4
        for (int c = 0; c < Channels; ++c) {
            const auto byteOf = [](const auto &pairs, int shift) {
                const auto byte = (pairs >> shift) & 0xFFu;
                if constexpr (sizeof(byte[0]) == 8 && kConvertsQuadwords) {
                    return convert<Doubles>(convert<Vec<int64_t, N>>(byte));
                } else {
                    return convert<Doubles>(convert<Ints>(byte));
                }
            };
            const Doubles p00 = byteOf(upperPair, Pair::upperShift(c, 0));
            const Doubles p01 = byteOf(upperPair, Pair::upperShift(c, 1));
            const Doubles p10 = byteOf(lowerPair, Pair::lowerShift(c, 0));
            const Doubles p11 = byteOf(lowerPair, Pair::lowerShift(c, 1));
            // Differences of bytes are exact in double, as the plain loop's
            // integer differences converted.
            const Doubles top = p00 + fx * (p01 - p00);
            const Doubles bottom = p10 + fx * (p11 - p10);
            const Ints bytes = convert<Ints>(top + fy * (bottom - top) + 0.5);
            packed |= convert<Words>(bytes) << (8 * c);
        }
        storePixels<Channels, N>(packed, out + x * Channels);
    }
    return x;
}

