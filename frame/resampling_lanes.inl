// The bilinear remap on lanes (see resampling.cpp), included once for the
// target of the whole file and once for AVX-512, where the widening
// conversions to doubles are single instructions (the compiler's generic
// conversion splits them in halves). No include guard: it is meant to be
// included twice, each time in its own namespace.

// Whether four-channel pixels are read in pairs into 64-bit lanes (where
// 64-bit integers convert to doubles in one instruction).
#if defined(KELMO_LANES_AVX512)
constexpr bool kPairsAsWords = true;
#else
constexpr bool kPairsAsWords = false;
#endif

// Lanes of 32-bit integers or floats widened to doubles, exactly.
template <class Doubles, class From>
[[gnu::always_inline]] inline Doubles widen(const From &value) {
#if defined(KELMO_LANES_AVX512)
    if constexpr (sizeof(Doubles) == 64 && sizeof(value[0]) == 4) {
        // The zero-masking forms: the plain ones start from an undefined
        // register, which this compiler reports as uninitialised.
        constexpr __mmask8 kAllLanes = 0xFF;
        if constexpr (std::is_same_v<std::remove_cv_t<std::remove_reference_t<decltype(value[0])>>, float>) {
            return reinterpret_cast<Doubles>(_mm512_maskz_cvtps_pd(kAllLanes, reinterpret_cast<__m256>(value)));
        } else {
            return reinterpret_cast<Doubles>(_mm512_maskz_cvtepi32_pd(kAllLanes, reinterpret_cast<__m256i>(value)));
        }
    }
#endif
    if constexpr (std::is_integral_v<std::remove_cv_t<std::remove_reference_t<decltype(value[0])>>>) {
        // Through float, exact for the bytes and indices converted here
        // (below 2^24): the compiler widens floats in fewer instructions.
        return lanes::convert<Doubles>(lanes::convert<lanes::Vec<float, sizeof(Doubles) / 8>>(value));
    } else {
        return lanes::convert<Doubles>(value);
    }
}

template <int Channels, int N>
[[gnu::always_inline]] inline void remapBilinearLanes(const RemapJob &job) {
    using lanes::Vec;
    using Doubles = Vec<double, N>;
    using Floats = Vec<float, N>;
    using Ints = Vec<int32_t, N>;
    const SourceView &source = job.source;
    const double lastColumn = source.width - 1;
    const double lastRow = source.height - 1;
    const auto step = static_cast<int32_t>(source.step);
    // The byte after the source's last one, and the largest upper-left offset
    // whose four 32-bit reads (the last at offset + step + Channels) stay
    // below it. Four channels never pass it: their reads are the pixels'
    // own bytes.
    const auto end = static_cast<int32_t>((source.height - 1) * source.step + source.width * Channels);
    const int32_t lastOffset = end - step - Channels - 4;
    // Three-channel pixels read in pairs: eight bytes from the upper-left
    // pixel of each row, the last at offset + step + 7.
    const int32_t lastPairOffset = end - step - 8;
    const uint8_t *upperLeft = source.pixels;
    const uint8_t *upperRight = source.pixels + Channels;
    const uint8_t *lowerLeft = source.pixels + step;
    const uint8_t *lowerRight = source.pixels + step + Channels;
    const auto areaLeft = static_cast<float>(job.left);
    const auto areaRight = static_cast<float>(job.right);
    const auto areaTop = static_cast<float>(job.top);
    const auto areaBottom = static_cast<float>(job.bottom);
    for (int32_t j = 0; j < job.destinationHeight; ++j) {
        const uint8_t *xRow = job.xMap + static_cast<std::ptrdiff_t>(j) * job.xMapStep;
        const uint8_t *yRow = job.yMap + static_cast<std::ptrdiff_t>(j) * job.yMapStep;
        uint8_t *destinationRow = job.destination + static_cast<std::ptrdiff_t>(j) * job.destinationStep;
        int32_t i = 0;
        for (; i + N <= job.destinationWidth; i += N) {
            const Floats xFloats = lanes::load<Floats>(xRow + 4 * static_cast<std::ptrdiff_t>(i));
            const Floats yFloats = lanes::load<Floats>(yRow + 4 * static_cast<std::ptrdiff_t>(i));
            // The area's bounds are integers below 2^24, exact in float, and
            // widening a float to double is exact: the test in float is the
            // test in double.
            bool fast = lanes::allSet((xFloats >= areaLeft) & (xFloats <= areaRight) & (yFloats >= areaTop) & (yFloats <= areaBottom));
            Ints offset{};
            Doubles fx{};
            Doubles fy{};
            if (fast) {
                const Doubles x = widen<Doubles>(xFloats);
                const Doubles y = widen<Doubles>(yFloats);
                // bilinearAxis on lanes: trunc(position + bias) >= size - 1
                // holds exactly when position + bias >= size - 1 (positions
                // are >= 0), and then the truncation is size - 1 (positions
                // are at most size - 1).
                const Doubles xBiased = x + kTruncationBias;
                const Doubles yBiased = y + kTruncationBias;
                Ints ix = lanes::convert<Ints>(xBiased);
                Ints iy = lanes::convert<Ints>(yBiased);
                fx = xBiased >= lastColumn ? Doubles{} + 1.0 : x - widen<Doubles>(ix);
                fy = yBiased >= lastRow ? Doubles{} + 1.0 : y - widen<Doubles>(iy);
                ix = ix < source.width - 2 ? ix : Ints{} + (source.width - 2);
                iy = iy < source.height - 2 ? iy : Ints{} + (source.height - 2);
                offset = iy * step + ix * Channels;
                if constexpr (Channels == 3 && kPairsAsWords) {
                    fast = lanes::allSet(offset <= lastPairOffset);
                } else if constexpr (Channels != 4) {
                    fast = lanes::allSet(offset <= lastOffset);
                }
            }
            if (!fast) {
                for (int k = 0; k < N; ++k) {
                    const double px = loadFloat(xRow, i + k);
                    const double py = loadFloat(yRow, i + k);
                    if (!(px >= job.left && px <= job.right && py >= job.top && py <= job.bottom)) continue;
                    BilinearSampler<Channels>::sample(source, px, py,
                                                      destinationRow + static_cast<std::ptrdiff_t>(i + k) * Channels);
                }
                continue;
            }
            Ints packed{};
            if constexpr (Channels >= 3 && kPairsAsWords) {
                // A pixel and its right neighbour in one 64-bit word (three
                // channels: its low six bytes): half the loads, and 64-bit
                // lanes widen to doubles in place.
                using Pairs = Vec<int64_t, N>;
                const Pairs upper = gatherWords(upperLeft, lanes::convert<Pairs>(offset));
                const Pairs lower = gatherWords(lowerLeft, lanes::convert<Pairs>(offset));
                constexpr int kNeighbourShift = 8 * Channels;
#pragma GCC unroll 4
                for (int channel = 0; channel < Channels; ++channel) {
                    const int shift = 8 * channel;
                    const Doubles pa = lanes::convert<Doubles>((upper >> shift) & 255);
                    const Doubles pb = lanes::convert<Doubles>((upper >> (shift + kNeighbourShift)) & 255);
                    const Doubles pc = lanes::convert<Doubles>((lower >> shift) & 255);
                    const Doubles pd = lanes::convert<Doubles>((lower >> (shift + kNeighbourShift)) & 255);
                    const Doubles top = pa + fx * (pb - pa);
                    const Doubles bottom = pc + fx * (pd - pc);
                    packed |= lanes::convert<Ints>(top + fy * (bottom - top) + 0.5) << shift;
                }
            } else {
                const Ints a = gatherWords(upperLeft, offset);
                const Ints c = gatherWords(lowerLeft, offset);
                // One channel: a word's second byte is the right neighbour.
                const Ints b = Channels == 1 ? a >> 8 : gatherWords(upperRight, offset);
                const Ints d = Channels == 1 ? c >> 8 : gatherWords(lowerRight, offset);
#pragma GCC unroll 4
                for (int channel = 0; channel < Channels; ++channel) {
                    const int shift = 8 * channel;
                    // Bytes as doubles are exact, so their differences are
                    // those of the bytes taken as integers.
                    const Doubles pa = widen<Doubles>((a >> shift) & 255);
                    const Doubles pb = widen<Doubles>((b >> shift) & 255);
                    const Doubles pc = widen<Doubles>((c >> shift) & 255);
                    const Doubles pd = widen<Doubles>((d >> shift) & 255);
                    const Doubles top = pa + fx * (pb - pa);
                    const Doubles bottom = pc + fx * (pd - pc);
                    packed |= lanes::convert<Ints>(top + fy * (bottom - top) + 0.5) << shift;
                }
            }
            uint8_t *out = destinationRow + static_cast<std::ptrdiff_t>(i) * Channels;
            if constexpr (Channels == 4) {
                lanes::store(out, packed);
            } else if constexpr (Channels == 1) {
                lanes::store(out, lanes::convert<Vec<uint8_t, N>>(packed));
            } else {
                // Three bytes a pixel: each word's fourth byte is overwritten
                // by the next pixel's first, the last pixel writes three.
                int32_t words[N];
                std::memcpy(words, &packed, sizeof words);
                for (int k = 0; k + 1 < N; ++k) std::memcpy(out + 3 * k, &words[k], 4);
                std::memcpy(out + 3 * (N - 1), &words[N - 1], 3);
            }
        }
        for (; i < job.destinationWidth; ++i) {
            const double x = loadFloat(xRow, i);
            const double y = loadFloat(yRow, i);
            if (!(x >= job.left && x <= job.right && y >= job.top && y <= job.bottom)) continue;
            BilinearSampler<Channels>::sample(source, x, y, destinationRow + static_cast<std::ptrdiff_t>(i) * Channels);
        }
    }
}

