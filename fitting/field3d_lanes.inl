// The body of the 3D field's kernels, compiled once per instruction set by
// fitting/field3d_lanes.cpp inside a namespace that defines kLanes (floats
// per vector) and sqrtLanes (the correctly rounded square root of each lane).
// No include guard: it is meant to be included several times.

// Whole blocks of kLanes points from the first; returns how many were done.
inline std::size_t evaluateBlocks(const TVector3f *centres, const TVector3f *weights, std::size_t centreCount,
                                  const TVector3f *points, std::size_t count, TVector3f *out) {
    using Floats = lanes::Vec<float, kLanes>;
    std::size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        Floats px, py, pz;
        for (int k = 0; k < kLanes; ++k) {
            px[k] = points[i + k].x;
            py[k] = points[i + k].y;
            pz[k] = points[i + k].z;
        }
        // Each lane: 0 plus the first product, then the others in order, as
        // the plain loop adds them.
        Floats sumX{}, sumY{}, sumZ{};
        for (std::size_t j = centreCount; j-- > 0;) {
            const Floats dx = px - centres[j].x;
            const Floats dy = py - centres[j].y;
            const Floats dz = pz - centres[j].z;
            const Floats d = sqrtLanes(dx * dx + dy * dy + dz * dz);
            sumX = sumX + d * weights[j].x;
            sumY = sumY + d * weights[j].y;
            sumZ = sumZ + d * weights[j].z;
        }
        const Floats x = px + sumX;
        const Floats y = py + sumY;
        const Floats z = pz + sumZ;
        for (int k = 0; k < kLanes; ++k) out[i + k] = TVector3f{x[k], y[k], z[k]};
    }
    return i;
}
