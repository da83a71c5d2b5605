// Linear muscle contraction against its formulas written out here once over
// the scalar type: in double precision as an independent oracle (within a
// tolerance), and in the single precision the library works in (bit for bit:
// the 1e-10 threshold compared in double, the radial fall-off's sine taken in
// double); and against values worked out by hand.
#include "deform/muscles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "model/model_table.h"
#include "support/table_check.h"

namespace kelmo {

struct Muscle {
    TVector3f a, b, f, g;
    float extension = 0.5f, strength = 0.2f, sharpness = 1.0f;
};

template <typename T>
struct V {
    T x, y, z;
    V operator+(V o) const { return {x + o.x, y + o.y, z + o.z}; }
    V operator-(V o) const { return {x - o.x, y - o.y, z - o.z}; }
    V operator*(T s) const { return {x * s, y * s, z * s}; }
    T dot(V o) const { return x * o.x + y * o.y + z * o.z; }
    T length() const { return std::sqrt(dot(*this)); }
    V unit() const { return length() == 0 ? V{0, 0, 0} : V{x / length(), y / length(), z / length()}; }
};

// Where a vertex ends: inside the zone (rho <= Rf, rho > 0.01, K = wS >=
// 1e-10) it moves toward A by s = exp(-(alpha / theta)^2 sharpness) K
// sin(t pi / 2) / rho in x and y, theta running from thetaF to thetaG with the
// angle round the axis from F's direction (thetaG when that angle is not
// defined), t = rho / Rs inside Rs, (Rf - rho) / (Rf - Rs) beyond.
template <typename T>
TVector3f contracted(const Muscle &m, const TVector3f &vertex, float weight) {
    auto v = [](const TVector3f &p) { return V<T>{p.x, p.y, p.z}; };
    auto angle = [](V<T> p, V<T> q) {
        return std::acos(std::clamp(p.dot(q) / (p.length() * q.length()), T(-1), T(1)));
    };
    const V<T> a = v(m.a), u = v(m.b) - a, toF = v(m.f) - a, toG = v(m.g) - a, p = v(vertex) - a;
    const T thetaF = angle(toF, u), thetaG = angle(toG, u), rho = p.length();
    const V<T> e = v(m.b) + u * T(m.extension);
    const T rs = (a - v(m.b)).length(), rf = (a - e).length();
    auto offAxis = [&](V<T> q, T cosine) { return (q - u * (q.length() * cosine / u.length())).unit(); };
    const V<T> perpF = offAxis(toF, std::cos(thetaF)), perpG = offAxis(toG, std::cos(thetaG));
    const T k = T(weight) * T(m.strength), phiFG = std::acos(std::clamp(perpF.dot(perpG), T(-1), T(1)));
    if (weight == 0 || static_cast<double>(k) < 1e-10 || rho > rf || static_cast<double>(rho) <= 0.01) return vertex;
    T theta = thetaG;
    if (perpF.length() != 0 && perpG.length() != 0) {
        const T phi = std::acos(std::clamp(offAxis(p, std::cos(thetaF)).dot(perpF), T(-1), T(1)));
        if (phi < phiFG) theta = thetaF + (thetaG - thetaF) * (phi / phiFG);
    }
    if (theta == 0 || (rho >= rs && rf == rs)) return vertex;
    const T ratio = angle(p, e - a) / theta, t = rho < rs ? rho / rs : (rf - rho) / (rf - rs);
    const T s = std::exp(-(ratio * ratio) * T(m.sharpness)) * k * T(std::sin(double(t) * 1.5707963)) / rho;
    if (!std::isfinite(s)) return vertex;
    return {float(vertex.x - s * (vertex.x - m.a.x)), float(vertex.y - s * (vertex.y - m.a.y)), vertex.z};
}

int32_t modelWith(const std::vector<TVector3f> &vertices, std::size_t regions = 1) {
    int32_t handle = -1;
    TAVO_InitModel(&handle, 1);
    resolveModel(handle)->regions.resize(regions);
    for (TRegion &region : resolveModel(handle)->regions) region.vertices = vertices;
    return handle;
}

// Along (0.6, 0.8, 0) at z = 0.7, |B - A| = 2, F and G 45 degrees off the
// axis (F toward +z, G in the plane), so that the cone is round.
const Muscle kPlanar{{0.5f, -0.25f, 0.7f}, {1.7f, 1.35f, 0.7f}, {1.1f, 0.55f, 1.7f}, {0.3f, 1.15f, 0.7f}};

TEST(LinearMuscleContraction, EveryVertexMovesAsItsFormulasSay) {
    const Muscle muscles[] = {
        kPlanar,
        {{0.5f, -0.25f, 0.7f}, {1.7f, 1.35f, 1.7f}, {1.1f, 0.55f, 1.1f}, {0.1f, 1.35f, 0.5f}, 0.5f, 0.5f, 3.0f},
        {{0, 0, 0}, {2, 0, 0}, {1, 0, 0}, {1, 1, 0}, 0.5f, 0.3f, 2.0f},          // F on the axis: thetaG everywhere
        {{0, 0, 0}, {2, 0, 0}, {1, 1, 0}, {3, 0, 0}, 0.5f, 0.3f, 2.0f},          // G on the axis: a half-angle of 0
        {{0, 0, 0}, {2, 0, 0}, {1, 1, 0}, {1, 0, 1}, 0.0f, 0.3f, 2.0f},          // inner and outer radii equal
        {{0, 0, 0}, {2, 0, 0}, {1, 1, 0}, {1, 0, 0.36397f}, 0.5f, 0.3f, 40.0f},  // thetaF 45, thetaG 20 degrees
    };
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> offset(-3.0f, 3.0f), weight(0.0f, 2.0f);
    for (const Muscle &m : muscles) {
        std::vector<TVector3f> cloud = {m.b, m.a, {m.a.x + 0.005f, m.a.y, m.a.z}, {1, 0, 0}};
        std::vector<float> weights(4, 1.0f);
        for (int k = 0; k < 3000; ++k)
            cloud.push_back({m.a.x + offset(rng), m.a.y + offset(rng), m.a.z + offset(rng)}),
                weights.push_back(k % 50 ? weight(rng) : 0);
        const int32_t handle = modelWith(cloud);
        // B handed over as the model's own vertex 0, which moves: the muscle is read first.
        ASSERT_EQ(TAVO_LinearMuscleContraction(handle, &m.a, &resolveModel(handle)->regions[0].vertices[0], &m.f, &m.g,
                                               m.extension, m.strength, m.sharpness, weights.data(), 1),
                  TAVO_OK);
        int moved = 0;
        for (std::size_t k = 0; k < cloud.size(); ++k) {
            const TVector3f actual = resolveModel(handle)->regions[0].vertices[k],
                            exact = contracted<double>(m, cloud[k], weights[k]);
            const TVector3f single = contracted<float>(m, cloud[k], weights[k]);
            ASSERT_EQ(std::memcmp(&actual, &single, sizeof single), 0) << k;
            ASSERT_TRUE(std::fabs(actual.x - exact.x) < 2e-5f && std::fabs(actual.y - exact.y) < 2e-5f) << k;
            moved += actual.x != cloud[k].x;
        }
        EXPECT_GT(moved, m.g.x == 3 ? -1 : 20) << &m - muscles;  // the zone holds some of the cloud
        TAVO_FreeModel(handle);
    }
}

TEST(LinearMuscleContraction, VerticesOnTheAxisMoveTowardAByTheRadialFallOff) {
    // Rs = 2, Rf = 2 + 2 x extension; on the axis the angular fall-off is 1,
    // so a vertex at distance d moves by w S sin(t pi / 2).
    const double quarter = std::sin(M_PI / 4);
    const struct {
        float extension, distance, weight;
        double moved;
    } cases[] = {{0.5f, 1.0f, 1.0f, 0.2 * quarter}, {0.5f, 2.0f, 1.0f, 0.2},
                 {1.0f, 3.0f, 1.0f, 0.2 * quarter}, {1.0f, 3.9f, 1.0f, 0.2 * std::sin(0.05 * M_PI / 2)},
                 {0.5f, 1.0f, 0.5f, 0.1 * quarter}, {0.5f, 3.001f, 1.0f, 0.0},
                 {0.5f, 0.005f, 1.0f, 0.0}};
    auto along = [](double d) { return TVector3f{float(0.5 + 0.6 * d), float(-0.25 + 0.8 * d), 0.7f}; };
    for (const auto &k : cases) {
        const int32_t handle = modelWith({along(k.distance)});
        ASSERT_EQ(TAVO_LinearMuscleContraction(handle, &kPlanar.a, &kPlanar.b, &kPlanar.f, &kPlanar.g, k.extension,
                                               0.2f, 1.0f, &k.weight, 1),
                  TAVO_OK);
        const TVector3f after = resolveModel(handle)->regions[0].vertices[0], expected = along(k.distance - k.moved);
        EXPECT_TRUE(std::fabs(after.x - expected.x) < 2e-6f && std::fabs(after.y - expected.y) < 2e-6f &&
                    after.z == 0.7f)
            << k.distance;
        TAVO_FreeModel(handle);
    }
    // One weight per vertex index serves the first `count` regions (clamped to the model's).
    const float weights[] = {0.0f, 0.5f};
    for (int32_t count : {2, 1000, 0, INT32_MIN}) {
        const int32_t handle = modelWith({along(1.0), along(2.0)}, 3);
        ASSERT_EQ(TAVO_LinearMuscleContraction(handle, &kPlanar.a, &kPlanar.b, &kPlanar.f, &kPlanar.g, 0.5f, 0.2f, 1.0f,
                                               weights, count),
                  TAVO_OK);
        for (std::size_t r = 0; r < 3; ++r) {
            const auto &vertices = resolveModel(handle)->regions[r].vertices;
            EXPECT_EQ(vertices[0].x, along(1.0).x);
            EXPECT_NEAR(vertices[1].x, int64_t(r) < count ? along(1.9).x : along(2.0).x, 2e-6f)
                << count << " region " << r;
        }
        TAVO_FreeModel(handle);
    }
}

}  // namespace kelmo
