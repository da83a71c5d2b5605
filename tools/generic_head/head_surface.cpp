// Region 0 of the generic head (see head_surface.h).
//
// Construction, in centimetres:
//  1. A loft: key rings (horizontal-ish closed curves from the crown to the
//     neck, each half a superellipse in front and behind) interpolated row by
//     row with Catmull-Rom splines of their parameters. Columns are placed
//     uniformly across the face (so that the mouth gets 18 column intervals,
//     the 38-vertex lip ring of "list7.txt") and by angle behind.
//  2. A 2D warp of the front: the rims of the eye openings move onto the lid
//     margins, the rims of the mouth opening onto the lip line, and the rows
//     around them follow with a decaying weight so that no row crosses
//     another.
//  3. The face relief, a height field over the front (nose, brows, eye
//     sockets, cheeks, lips, chin), and the eyelids: a smooth maximum of the
//     socket and the eyeball sphere grown by the lid thickness; the jaw line
//     and the ears as displacements of the sides.
//  4. Expressions move this rest surface: the smile displaces the skin
//     around the mouth corners, the open mouth turns the lower jaw about its
//     hinge (weights from the rest positions). The lids (blink, the smile's
//     raised lower lid) and the brows are parameters of steps 2 and 3.
#include "tools/generic_head/head_surface.h"

#include <cmath>
#include <numbers>

namespace kelmo::generic_head {
namespace {

constexpr double kPi = std::numbers::pi;

double degrees(double d) { return d * kPi / 180.0; }

// ---- Key rings ---------------------------------------------------------------

// A closed curve around the head: front half a superellipse of exponent pF
// with half-axes a (x) and f (forward of zc), back half one of exponent pB with
// b (backward of zc); its height goes from yF at the front through yS at the
// sides to yB at the back.
struct KeyRing {
    double yF, yS, yB;
    double a, zc, f, b;
    double pF, pB;
};

struct KeySpan {
    KeyRing ring;
    int rowsToNext;  // grid rows from this ring (included) to the next (excluded)
};

// From the crown ring down to the bottom of the neck (centimetres).
// clang-format off
const std::vector<KeySpan> &keySpans() {
    static const std::vector<KeySpan> spans = {
        //  yF     yS     yB     a     zc     f     b     pF   pB    rows
        {{ 14.9,  14.9,  14.8,  2.6, -7.6,  3.0,  3.4, 2.2, 2.2},  2},  // crown
        {{ 14.0,  14.0,  13.8,  4.6, -7.8,  5.6,  5.6, 2.2, 2.2},  3},
        {{ 12.4,  12.6,  12.3,  6.3, -8.2,  7.9,  7.8, 2.3, 2.2},  3},
        {{ 10.8,  11.0,  11.0,  7.1, -8.4,  9.2,  8.7, 2.4, 2.2},  3},  // hairline
        {{  8.8,   9.0,   9.2,  7.55,-8.4,  9.9,  9.1, 2.4, 2.2},  4},  // forehead
        {{  6.6,   6.8,   6.6,  7.6, -7.0,  8.8, 10.6, 2.4, 2.2},  9},  // brow
        {{  3.85,  4.2,   4.0,  7.4, -5.2,  6.3, 12.4, 2.4, 2.2},  7},  // eye
        {{  1.8,   2.2,   1.8,  7.3, -4.9,  6.3, 12.2, 2.4, 2.2},  9},  // cheekbone
        {{ -0.6,   0.0,  -0.4,  7.1, -4.7,  6.5, 10.6, 2.4, 2.2},  8},  // nose base
        {{ -2.85, -2.1,  -2.5,  6.5, -4.4,  6.2,  9.0, 2.4, 2.2},  6},  // mouth
        {{ -4.6,  -3.8,  -3.6,  5.7, -4.6,  6.3,  8.2, 2.3, 2.2},  5},  // below the lip
        {{ -6.3,  -5.0,  -4.6,  4.6, -5.2,  6.5,  7.6, 2.2, 2.2},  4},  // chin
        {{ -7.6,  -6.3,  -5.4,  4.0, -5.8,  5.9,  7.0, 2.1, 2.2},  3},  // menton
        {{ -8.9,  -7.8,  -6.6,  4.8, -6.2,  4.3,  6.5, 2.0, 2.2},  3},  // under the chin
        {{-10.2,  -9.4,  -8.2,  4.7, -7.6,  5.4,  5.3, 2.0, 2.2},  2},  // neck top
        {{-12.7, -12.2, -11.6,  5.0, -7.8,  5.5,  5.3, 2.0, 2.2},  2},  // neck
        {{-15.5, -15.2, -14.6,  5.7, -8.0,  5.4,  5.8, 2.0, 2.2},  1},  // neck bottom (last row)
    };
    return spans;
}
// clang-format on

// The rows of these key rings are the upper rims of the eye openings and of
// the mouth opening (the lower rims are the rows below them), and the lower
// edge of the chin.
constexpr int kEyeRing = 6;
constexpr int kMouthRing = 9;
constexpr int kMentonRing = 12;

// The eyes' centre line and the front of the cornea (reference mean face:
// the eye centres at 3.83 cm, the lid points about 0.3 cm behind the cornea).
constexpr double kEyeHeight = 3.85;
constexpr double kCorneaFront = 0.32;

// The lip features are authored for a mouth 5.4 cm wide; the mouth columns of
// the layout put its corners at +-2.70 cm.
constexpr double kLipHalfWidth = 2.7;

KeyRing interpolateRing(const std::vector<KeySpan> &spans, int k, double t) {
    const int n = static_cast<int>(spans.size());
    auto at = [&](int i) -> const KeyRing & { return spans[std::clamp(i, 0, n - 1)].ring; };
    const KeyRing &r0 = at(k - 1), &r1 = at(k), &r2 = at(k + 1), &r3 = at(k + 2);
    auto cr = [&](double KeyRing::*m) { return catmullRom(r0.*m, r1.*m, r2.*m, r3.*m, t); };
    return {cr(&KeyRing::yF), cr(&KeyRing::yS), cr(&KeyRing::yB), cr(&KeyRing::a), cr(&KeyRing::zc),
            cr(&KeyRing::f),  cr(&KeyRing::b),  cr(&KeyRing::pF), cr(&KeyRing::pB)};
}

double signedPow(double v, double e) { return v < 0.0 ? -std::pow(-v, e) : std::pow(v, e); }

Vec3 ringPoint(const KeyRing &r, double theta) {
    const double s = std::sin(theta);
    const double c = std::cos(theta);
    const double p = c >= 0.0 ? r.pF : r.pB;
    const double x = r.a * signedPow(s, 2.0 / p);
    const double z = r.zc + (c >= 0.0 ? r.f : r.b) * signedPow(c, 2.0 / p);
    const double y = r.yS + (c >= 0.0 ? r.yF - r.yS : r.yB - r.yS) * c * c;
    return {x, y, z};
}

// Reference exponent with which the front columns are placed: on a ring of
// this exponent they are evenly spaced in x.
constexpr double kColumnExponent = 2.4;
constexpr double kFrontColumnStep = 0.0448;  // in x / a
constexpr int kFrontColumnsPerSide = 15;
constexpr int kMouthHalfColumns = 9;         // 18 intervals: 38 rim vertices
constexpr int kEyeInnerColumn = 6;           // front column index of the inner eye corner
constexpr int kEyeOuterColumn = 14;          // and of the outer corner

std::vector<double> makeColumnAngles() {
    std::vector<double> positive;  // angles of the +x half, increasing, excluding 0 and pi
    for (int k = 1; k <= kFrontColumnsPerSide; ++k) {
        const double xi = k * kFrontColumnStep;
        positive.push_back(std::asin(std::pow(xi, kColumnExponent / 2.0)));
    }
    const double frontEnd = positive.back();
    constexpr int sideSteps = 7;
    for (int k = 1; k <= sideSteps; ++k) positive.push_back(lerp(frontEnd, kPi / 2.0, double(k) / sideSteps));
    for (int k = 1; k <= 12; ++k) positive.push_back(kPi / 2.0 + degrees(2.5 * k));  // the ears
    for (int k = 1; k <= 5; ++k) positive.push_back(degrees(120.0 + 10.0 * k));
    std::vector<double> angles;
    angles.push_back(-kPi);
    for (auto it = positive.rbegin(); it != positive.rend(); ++it) angles.push_back(-*it);
    angles.push_back(0.0);
    for (double a : positive) angles.push_back(a);
    return angles;
}

SurfaceLayout makeLayout() {
    SurfaceLayout layout;
    layout.columnAngles = makeColumnAngles();
    layout.columns = static_cast<int>(layout.columnAngles.size());
    int rows = 0;
    int upperLidRow = -1, upperLipRow = -1;
    const auto &spans = keySpans();
    for (int k = 0; k < static_cast<int>(spans.size()); ++k) {
        if (k == kEyeRing) upperLidRow = rows;
        if (k == kMouthRing) upperLipRow = rows;
        if (k == kMentonRing) layout.chinRow = rows;
        rows += spans[k].rowsToNext;
    }
    layout.rows = rows;
    const int centre = layout.columns / 2;  // the column at angle 0
    layout.mouth = {upperLipRow, centre - kMouthHalfColumns, centre + kMouthHalfColumns};
    layout.eyes[0] = {upperLidRow, centre - kEyeOuterColumn, centre - kEyeInnerColumn};
    layout.eyes[1] = {upperLidRow, centre + kEyeInnerColumn, centre + kEyeOuterColumn};
    return layout;
}

// Key ring position of grid row `row`: span index and parameter.
struct RowParam {
    int span;
    double t;
};
RowParam rowParam(int row) {
    const auto &spans = keySpans();
    int first = 0;
    for (int k = 0; k < static_cast<int>(spans.size()); ++k) {
        if (row < first + spans[k].rowsToNext) return {k, double(row - first) / spans[k].rowsToNext};
        first += spans[k].rowsToNext;
    }
    return {static_cast<int>(spans.size()) - 1, 0.0};
}

}  // namespace

bool SurfaceLayout::isHoleQuad(int row, int column) const {
    auto in = [&](const GridHole &h) { return row == h.row && column >= h.firstColumn && column < h.lastColumn; };
    return in(mouth) || in(eyes[0]) || in(eyes[1]);
}

std::vector<int> SurfaceLayout::holeRing(const GridHole &hole) const {
    std::vector<int> ring;
    for (int c = hole.firstColumn; c <= hole.lastColumn; ++c) ring.push_back(vertexIndex(hole.row, c));
    for (int c = hole.lastColumn; c >= hole.firstColumn; --c) ring.push_back(vertexIndex(hole.row + 1, c));
    return ring;
}

const SurfaceLayout &surfaceLayout() {
    static const SurfaceLayout layout = makeLayout();
    return layout;
}

ExpressionParams expressionParams(Expression expression) {
    switch (expression) {
        case kOpenNeutral: return {12.0, 0.0, 0.0, 0.0};
        case kCloseSmile: return {0.0, 1.0, 0.0, 0.0};
        case kOpenSmile: return {10.0, 1.0, 0.0, 0.0};
        case kCloseNeutral: break;
    }
    return {};
}

namespace {

// Loft position of grid vertex (row, column), before the face details.
Vec3 loftPoint(const SurfaceLayout &layout, int row, int column) {
    const RowParam rp = rowParam(row);
    const KeyRing ring = interpolateRing(keySpans(), rp.span, rp.t);
    return ringPoint(ring, layout.columnAngles[column]);
}

struct EyeFrame {
    double cx, cy;        // centre of the opening (front projection)
    double halfWidth;     // corner to centre
    Vec3 ball;            // eyeball centre
    double side;          // -1 for the eye at -x, +1 at +x (outer corner direction)
};

// The eye openings follow the loft's corner columns: the eyeball is centred
// between them so that it fills the opening seen from the front.
std::array<EyeFrame, 2> eyeFrames(const SurfaceLayout &layout, double radius) {
    std::array<EyeFrame, 2> frames{};
    for (int e = 0; e < 2; ++e) {
        const GridHole &h = layout.eyes[e];
        const Vec3 a = loftPoint(layout, h.row, h.firstColumn);
        const Vec3 b = loftPoint(layout, h.row, h.lastColumn);
        EyeFrame &f = frames[e];
        f.cx = 0.5 * (a.x + b.x);
        f.cy = kEyeHeight;
        f.halfWidth = 0.5 * std::abs(b.x - a.x);
        f.side = e == 0 ? -1.0 : 1.0;
        f.ball = {f.cx, f.cy, kCorneaFront - radius};
    }
    return frames;
}

}  // namespace

const Anatomy &anatomy() {
    static const Anatomy value = [] {
        Anatomy a;
        a.eyeballRadius = 1.42;
        const auto frames = eyeFrames(surfaceLayout(), a.eyeballRadius);
        a.eyeCentres = {frames[0].ball, frames[1].ball};
        return a;
    }();
    return value;
}

namespace {

// ---- The lid margins and the lip line (front projection) ---------------------

// t in [-1, 1] from one corner to the other; `up` selects the upper margin.
double lidMarginY(const EyeFrame &e, double x, bool up, const ExpressionParams &p) {
    const double t = std::clamp((x - e.cx) / e.halfWidth, -1.0, 1.0);
    const double outward = t * e.side;  // +1 at the outer corner
    const double cornerY = e.cy + 0.08 + 0.10 * outward;  // slight upward tilt outwards
    const double shape = std::pow(std::max(0.0, 1.0 - t * t), 0.75);
    // The rims keep a small gap at the corners, so that the strip of quads
    // running on beyond each corner has a proper width.
    const double cornerGap = 0.05;
    // The upper lid arches highest slightly inwards of the centre, the lower
    // lid lowest slightly outwards.
    const double upper = cornerY + cornerGap + 0.37 * shape * (1.0 - 0.12 * outward);
    const double lower = cornerY - cornerGap - 0.46 * shape * (1.0 + 0.10 * outward) + 0.12 * p.smile * shape;
    if (!up) return lower;
    return lerp(upper, lower + 0.03, p.blink);
}

// Lip line of the neutral mouth at x (cm); a smile moves the skin around the
// mouth corners afterwards (smileDisplacement).
double lipLineY(double x, double mouthHalfWidth) {
    const double t = std::clamp(x / mouthHalfWidth, -1.0, 1.0);
    return -2.84 - 0.05 * t * t;
}

// The smile: the skin around each mouth corner moves up, back and outwards,
// most at the corner (the lip middles stay); `rest` is the point before.
Vec3 smileDisplacement(Vec3 rest, double mouthHalfWidth, double smile) {
    if (smile == 0.0) return {};
    const double side = rest.x < 0.0 ? -1.0 : 1.0;
    const double corner = side * mouthHalfWidth;
    const double w = bump(ellipticDistance(rest.x, rest.y, corner, lipLineY(corner, mouthHalfWidth), 2.1, 1.8));
    // Only the front of the face.
    const double front = smoothstep(-4.5, -2.0, rest.z);
    const double k = smile * w * front;
    return {0.25 * side * k, 0.78 * k, -0.45 * k};
}

// ---- Relief of the face ------------------------------------------------------

double noseRelief(double x, double y) {
    // Height above the face and half-width along the bridge, by y.
    struct Station {
        double y, h, w;
    };
    static const Station stations[] = {
        {5.0, 0.0, 0.7},   {4.3, 0.45, 0.72}, {3.4, 0.85, 0.68}, {2.4, 1.35, 0.7},  {1.6, 1.85, 0.8},
        {1.0, 2.25, 0.92}, {0.55, 2.4, 1.0},  {0.1, 2.05, 1.0},  {-0.3, 1.1, 0.85}, {-0.75, 0.0, 0.75},
    };
    constexpr int n = sizeof(stations) / sizeof(stations[0]);
    if (y >= stations[0].y || y <= stations[n - 1].y) return 0.0;
    int i = 0;
    while (i < n - 2 && y < stations[i + 1].y) ++i;
    const double t = (y - stations[i].y) / (stations[i + 1].y - stations[i].y);
    const double s = t * t * (3.0 - 2.0 * t);
    const double h = lerp(stations[i].h, stations[i + 1].h, s);
    const double w = lerp(stations[i].w, stations[i + 1].w, s);
    const double u = std::abs(x) / w;
    if (u >= 1.0) return 0.0;
    // Rounded tip, a narrower ridge along the bridge.
    const double crown = y < 1.6 ? 1.0 : 1.5;
    return h * std::pow(1.0 - std::pow(u, 2.0), crown);
}

double faceRelief(double x, double y, const ExpressionParams &p, const std::array<EyeFrame, 2> &eyes) {
    const double ax = std::abs(x);
    double r = 0.0;
    // Nose with its wings and the crease around them.
    r += noseRelief(x, y);
    r += 0.85 * bump(ellipticDistance(ax, y, 1.3, -0.1, 0.72, 0.6));
    r -= 0.25 * bump(ellipticDistance(ax, y, 1.95, -0.05, 0.35, 0.8));
    // Brow ridge and glabella; raised brows move the soft tissue up.
    const double browLift = 0.6 * p.browRaise;
    r += 0.55 * bump(ellipticDistance(ax, y - browLift, 2.7, 5.55, 3.0, 1.05));
    r += 0.25 * bump(ellipticDistance(ax, y, 0.0, 5.3, 1.6, 1.3));
    // Eye sockets (the lids are added separately).
    // Deeper under the brow than below the eye, where the lid runs smoothly
    // into the cheek.
    for (const EyeFrame &e : eyes) {
        const double below = y < e.cy ? 1.0 : 0.0;
        r -= 1.3 * bump(ellipticDistance(x, y, e.cx, e.cy + 0.35, 2.35, lerp(1.9, 1.45, below)));
    }
    // Cheekbones and cheeks; a smile lifts and rounds the cheeks.
    const double cheekLift = 0.45 * p.smile;
    r += 0.45 * bump(ellipticDistance(ax, y - cheekLift, 4.6, 1.4, 2.6, 2.0));
    r += (0.22 + 0.35 * p.smile) * bump(ellipticDistance(ax, y - cheekLift, 3.5, -0.5, 2.4, 2.2));
    // Mouth area: the muzzle over the teeth, the lips, the groove below them.
    const double line = lipLineY(x, kLipHalfWidth);
    r += 0.7 * bump(ellipticDistance(ax, y, 0.0, -2.4, 3.5, 2.6));
    // Upper lip: the skin slopes forward to the vermilion border (a ridge
    // with a Cupid's bow), the vermilion rolls in to the lip line.
    const double border = upperLipBorderY(x);
    const double upperLip = bump(ellipticDistance(ax, y, 0.0, 0.5 * (border + line), kLipHalfWidth, 0.5 * (border - line) + 0.28));
    r += 0.52 * upperLip;
    r += 0.10 * bump(ellipticDistance(ax, y, 0.0, border, 2.4, 0.12));
    const double lowerLip = bump(ellipticDistance(ax, y, 0.0, line - 0.55, 2.5, 0.62));
    r += 0.52 * lowerLip;
    r -= 0.14 * bump(ellipticDistance(ax, y, 0.0, -1.45, 0.36, 0.75));  // philtrum groove
    r -= 0.40 * bump(ellipticDistance(ax, y, 0.0, -4.3, 2.2, 0.5));    // mentolabial groove
    r += 0.75 * bump(ellipticDistance(ax, y, 0.0, -5.8, 2.0, 1.35));   // chin
    // Nasolabial groove from the nose wing to the mouth corner.
    {
        const double t = clamp01((0.1 - y) / 3.1);
        const double gx = lerp(2.05, 3.2, t);
        const double d = std::abs(ax - gx) / 0.45;
        const double along = bump(std::abs(t - 0.5) / 0.55);
        r -= (0.07 + 0.2 * p.smile) * bump(d) * along;
    }
    // Temples.
    r -= 0.35 * bump(ellipticDistance(ax, y, 6.6, 5.2, 1.5, 2.0));
    return r;
}

double frontWeight(double theta) {
    const double a = std::abs(theta);
    return smoothstep(degrees(75.0), degrees(45.0), a);
}

// Ear: a displacement of the side of the head outwards (along the column's
// horizontal direction), as a height field over the side's (y, z): a flap
// attached at the front that
// stands out most at its back rim (the helix), with the bowl of the concha
// and the lobe.
double earRelief(double y, double z) {
    // Ear frame: tilted back by 15 degrees; u forward-backward, v up-down.
    constexpr double cy = 2.4, cz = -7.9;
    constexpr double tilt = 0.26;
    const double dy = y - cy, dz = z - cz;
    const double v = dy * std::cos(tilt) - dz * std::sin(tilt);   // up along the ear
    const double u = -(dz * std::cos(tilt) + dy * std::sin(tilt));  // backward across it
    // Outline: wider at the top than at the lobe.
    const double halfHeight = 3.1;
    const double halfWidth = v > 0.0 ? 1.75 : lerp(1.75, 1.0, std::min(1.0, -v / halfHeight));
    const double d = std::sqrt((v / halfHeight) * (v / halfHeight) + (u / halfWidth) * (u / halfWidth));
    if (d >= 1.0) return 0.0;
    const double back = smoothstep(-halfWidth * 0.9, halfWidth * 0.8, u);  // 0 at the attachment
    const double rim = bump(std::abs(d - 0.8) / 0.22) * smoothstep(-0.9, 0.2, u + 0.6 * v / halfHeight);
    const double concha = bump(ellipticDistance(v, u, -0.5, -0.1, 1.0, 0.75));
    const double fossa = bump(ellipticDistance(v, u, 1.6, 0.1, 0.7, 0.6));
    const double edge = smoothstep(1.0, 0.6, d);
    return edge * (0.25 + 1.35 * back + 0.30 * rim - 0.55 * concha - 0.2 * fossa);
}

// The jaw turns about the x axis through this point (in front of the ear, at
// the height of the cheekbone: the temporomandibular joint).
constexpr Vec3 kJawHinge{0.0, 1.2, -6.6};

// The lower border of the mandible and the back border of its ramus, seen
// from the side (z, y), from the chin to below the ear; the face side of this
// line stands out from the neck.
double jawRelief(double y, double z) {
    static const double border[][2] = {{1.5, -7.4}, {-1.5, -6.9}, {-4.0, -6.1}, {-5.7, -5.3},
                                       {-6.6, -4.0}, {-7.0, -1.5}, {-7.1, 1.0}};
    constexpr int n = sizeof(border) / sizeof(border[0]);
    double best = 1e9;
    double sign = 1.0;
    for (int i = 0; i + 1 < n; ++i) {
        const double ax = border[i][0], ay = border[i][1], bx = border[i + 1][0], by = border[i + 1][1];
        const double ex = bx - ax, ey = by - ay;
        const double t = clamp01(((z - ax) * ex + (y - ay) * ey) / (ex * ex + ey * ey));
        const double px = ax + ex * t - z, py = ay + ey * t - y;
        const double d = std::sqrt(px * px + py * py);
        if (d < best) {
            best = d;
            // The polyline runs backward then up: the face lies to its right.
            sign = (ex * (y - ay) - ey * (z - ax)) < 0.0 ? 1.0 : -1.0;
        }
    }
    const double inside = sign * best;
    if (y > 2.0) return 0.0;
    return 0.4 * smoothstep(-0.5, 0.4, inside) * (1.0 - 0.6 * smoothstep(0.3, 2.0, inside)) *
           smoothstep(2.0, 0.5, y);
}

}  // namespace

double upperLipBorderY(double x) {
    const double ax = std::abs(x);
    const double line = lipLineY(x, kLipHalfWidth);
    const double bow = 0.08 * bump(ax / 0.9) - 0.05 * bump(ax / 0.25);
    return line + 0.62 + bow - 0.25 * smoothstep(0.6, kLipHalfWidth, ax);
}

double lowerLipBorderY(double x) {
    const double ax = std::abs(x);
    return lipLineY(x, kLipHalfWidth) - 1.0 + 0.45 * smoothstep(0.8, kLipHalfWidth, ax);
}

double upperLidRise() {
    const auto frames = eyeFrames(surfaceLayout(), anatomy().eyeballRadius);
    return lidMarginY(frames[0], frames[0].cx, true, ExpressionParams{}) - frames[0].ball.y;
}

double lowerLidDrop() {
    const auto frames = eyeFrames(surfaceLayout(), anatomy().eyeballRadius);
    return frames[0].ball.y - lidMarginY(frames[0], frames[0].cx, false, ExpressionParams{});
}

double lipTint(Vec3 neutralCm) {
    const double ax = std::abs(neutralCm.x);
    const double top = upperLipBorderY(neutralCm.x);
    const double bottom = lowerLipBorderY(neutralCm.x);
    const double y = neutralCm.y;
    if (neutralCm.z < -2.0 || ax > 2.9) return 0.0;
    const double inside = smoothstep(top + 0.06, top - 0.06, y) * smoothstep(bottom - 0.1, bottom + 0.15, y);
    return inside * smoothstep(2.9, 2.5, ax);
}

Vec3 rotateWithJaw(Vec3 cm, double jawDegrees) {
    const double a = degrees(jawDegrees);
    const double yy = cm.y - kJawHinge.y, zz = cm.z - kJawHinge.z;
    return {cm.x, kJawHinge.y + yy * std::cos(a) - zz * std::sin(a), kJawHinge.z + yy * std::sin(a) + zz * std::cos(a)};
}

RegionMesh buildHeadSurfaceCm(const ExpressionParams &params) {
    const SurfaceLayout &layout = surfaceLayout();
    const Anatomy &anat = anatomy();
    const auto eyes = eyeFrames(layout, anat.eyeballRadius);
    const int rows = layout.rows;
    const int cols = layout.columns;

    // 1. Loft.
    std::vector<Vec3> p(layout.vertexCount());
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j) p[layout.vertexIndex(i, j)] = loftPoint(layout, i, j);

    // 2. 2D warp of rows around the holes. For each column, the rim rows
    // move to their targets; rows within `reach` above or below follow with
    // a linearly decaying share, and columns beyond the corners share the
    // corner's movement with a decaying weight.
    std::vector<double> dy(p.size(), 0.0);
    auto warpHole = [&](const GridHole &h, auto upperTarget, auto lowerTarget, int reach, int lateral) {
        for (int j = h.firstColumn - lateral; j <= h.lastColumn + lateral; ++j) {
            const int jc = std::clamp(j, h.firstColumn, h.lastColumn);
            const int beyond = std::abs(j - jc);
            const double wl = 1.0 - double(beyond) / (lateral + 1);
            const Vec3 up = p[layout.vertexIndex(h.row, j)];
            const Vec3 lo = p[layout.vertexIndex(h.row + 1, j)];
            const double x = p[layout.vertexIndex(h.row, jc)].x;
            const double du = upperTarget(x) - up.y;
            const double dl = lowerTarget(x) - lo.y;
            for (int k = 0; k <= reach; ++k) {
                const double w = wl * (1.0 - double(k) / (reach + 1));
                dy[layout.vertexIndex(h.row - k, j)] += du * w;
                dy[layout.vertexIndex(h.row + 1 + k, j)] += dl * w;
            }
        }
    };
    for (int e = 0; e < 2; ++e) {
        const EyeFrame &ef = eyes[e];
        warpHole(
            layout.eyes[e], [&](double x) { return lidMarginY(ef, x, true, params); },
            [&](double x) { return lidMarginY(ef, x, false, params); }, 4, 2);
    }
    const double mouthHalf = 0.5 * std::abs(p[layout.vertexIndex(layout.mouth.row, layout.mouth.lastColumn)].x -
                                            p[layout.vertexIndex(layout.mouth.row, layout.mouth.firstColumn)].x);
    // The closed lips part by a hair in the middle and meet at the corners,
    // so that nothing of the mouth's inside shows beyond the lip line.
    auto closedGap = [&](double x) {
        const double t = std::min(1.0, std::abs(x) / mouthHalf);
        return 0.03 * (1.0 - t * t) * (1.0 - t * t);
    };
    warpHole(
        layout.mouth, [&](double x) { return lipLineY(x, mouthHalf) + closedGap(x); },
        [&](double x) { return lipLineY(x, mouthHalf) - closedGap(x); }, 4, 3);
    for (std::size_t v = 0; v < p.size(); ++v) p[v].y += dy[v] * frontWeight(layout.columnAngles[v % cols]);

    // 3. Relief and lids.
    std::vector<bool> eyeRim(p.size(), false), mouthRim(p.size(), false);
    for (int e = 0; e < 2; ++e)
        for (int v : layout.holeRing(layout.eyes[e])) eyeRim[v] = true;
    for (int v : layout.holeRing(layout.mouth)) mouthRim[v] = true;
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < cols; ++j) {
            const int v = layout.vertexIndex(i, j);
            Vec3 &q = p[v];
            const double wf = frontWeight(layout.columnAngles[j]);
            if (wf > 0.0) {
                double z = q.z + wf * faceRelief(q.x, q.y, params, eyes);
                for (const EyeFrame &e : eyes) {
                    const double dx = q.x - e.ball.x, dyy = q.y - e.ball.y;
                    const double d2 = dx * dx + dyy * dyy;
                    const double radius = anat.eyeballRadius;
                    const double lidRadius = radius + 0.16;
                    double lidded = z;
                    if (d2 < lidRadius * lidRadius) {
                        const double lid = e.ball.z + std::sqrt(lidRadius * lidRadius - d2);
                        lidded = smoothMax(z, lid, 0.3);
                    }
                    if (eyeRim[v] && std::abs(dx) < e.halfWidth * 1.2) {
                        // The margin lies on the ball; toward the corners it
                        // runs out into the skin around the eye.
                        const double onBall = e.ball.z + std::sqrt(std::max(radius * radius - d2, 0.0)) + 0.04;
                        const double t = std::min(1.0, std::abs(dx) / e.halfWidth);
                        z = lerp(onBall, std::min(lidded, onBall + 0.5), smoothstep(0.55, 1.0, t));
                    } else {
                        z = lidded;
                    }
                }
                if (mouthRim[v]) {
                    const double t = std::clamp(q.x / mouthHalf, -1.0, 1.0);
                    z -= 0.22 * (1.0 - t * t);
                }
                q.z = z;
            }
            // Jaw line and ears on both sides.
            const double side = std::abs(std::sin(layout.columnAngles[j]));
            if (side > 0.3) {
                const double jaw = jawRelief(q.y, q.z) * smoothstep(0.3, 0.6, side);
                q.x += q.x > 0.0 ? jaw : -jaw;
            }
            if (side > 0.5) {
                // Along the horizontal direction of the column: the ear
                // stands out from the side of the head and leans back.
                const double e = earRelief(q.y, q.z) * smoothstep(0.5, 0.8, side);
                q.x += e * std::sin(layout.columnAngles[j]);
                q.z += e * std::cos(layout.columnAngles[j]);
            }
        }
    }

    // 4. The smile moves the skin around the mouth corners; the jaw weights
    // below are taken at the rest positions.
    const std::vector<Vec3> rest = p;
    for (std::size_t v = 0; v < p.size(); ++v) p[v] += smileDisplacement(rest[v], mouthHalf, params.smile);

    // 5. Jaw rotation about the hinge axis (x axis through the hinge point),
    // weighted by where the point was at rest: the lower lip and chin turn
    // fully, the upper lip not at all, with a smooth blend beyond the mouth
    // corners and toward the ears and the neck.
    if (params.jawOpenDegrees != 0.0) {
        for (int i = 0; i < rows; ++i) {
            for (int j = 0; j < cols; ++j) {
                const int v = layout.vertexIndex(i, j);
                const Vec3 r = rest[v];
                const double ax = std::abs(r.x);
                const bool inMouthSpan = j >= layout.mouth.firstColumn && j <= layout.mouth.lastColumn;
                const double t = std::min(1.0, ax / mouthHalf);
                // The lips part fully between the inner lip points (0.6 cm
                // either side of the middle) and close toward the corners a
                // little faster than straight lines, so that the opening
                // stays inside the inner lip contour that a photo's points
                // draw. The corners move with both lips, half as far as the
                // lower one, so that the skin beyond them stretches instead
                // of tearing, and the corners of an open mouth sit at the
                // middle height of the opening, as classifyExpression
                // expects of a neutral face.
                constexpr double kCornerShare = 0.5;
                constexpr double kInnerLipT = 2.0 / kMouthHalfColumns;
                const double opening = std::pow(std::clamp((1.0 - t) / (1.0 - kInnerLipT), 0.0, 1.0), 1.2);
                double w;
                if (inMouthSpan && i <= layout.mouth.row) {
                    // The upper lip: still in the middle, toward the corners
                    // it follows the jaw part of the way.
                    const int above = layout.mouth.row - i;
                    w = kCornerShare * (1.0 - opening) * std::max(0.0, 1.0 - above / 3.0);
                } else {
                    // The lower lip's rim turns by its share, the chin below
                    // it fully; beyond the corners the skin goes from the
                    // corner's share at the lip line to none above it and the
                    // chin's below, over a band that widens with the distance
                    // from the corner.
                    const double below = lipLineY(r.x, mouthHalf) - r.y;
                    const double rim = kCornerShare + (1.0 - kCornerShare) * opening;
                    const double lower = i == layout.mouth.row + 1 ? rim : lerp(rim, 1.0, smoothstep(0.0, 2.2, below));
                    if (inMouthSpan) {
                        w = lower;
                    } else {
                        // Next to the corner the rows follow the corner's
                        // column (no shear between neighbouring columns);
                        // further out a band around the lip line, widening
                        // toward the cheek, takes over.
                        const double beyond = ax - mouthHalf;
                        const double near =
                            i <= layout.mouth.row
                                ? kCornerShare * std::max(0.0, 1.0 - (layout.mouth.row - i) / 3.0)
                                : lower;
                        const double band = 0.15 + 0.6 * beyond;
                        w = lerp(near, smoothstep(-band, band, below), smoothstep(0.0, 1.5, beyond));
                    }
                    // Fades out toward the ear and down the neck.
                    w *= smoothstep(-7.0, -4.0, r.z) * smoothstep(-12.0, -7.0, r.y);
                    w *= 1.0 - smoothstep(5.2, 6.8, ax) * smoothstep(-4.0, 1.0, r.y);
                }
                if (w > 0.0) p[v] = rotateWithJaw(p[v], params.jawOpenDegrees * w);
            }
        }
    }

    // Crown vertex.
    {
        const KeyRing top = keySpans().front().ring;
        p[layout.crownIndex()] = {0.0, top.yF + 0.42, top.zc};
    }

    RegionMesh mesh;
    mesh.vertices = p;
    for (int i = 0; i + 1 < rows; ++i) {
        for (int j = 0; j < cols; ++j) {
            if (layout.isHoleQuad(i, j)) continue;
            const int jn = (j + 1) % cols;
            mesh.quads.push_back({layout.vertexIndex(i, j), layout.vertexIndex(i + 1, j),
                                  layout.vertexIndex(i + 1, jn), layout.vertexIndex(i, jn)});
        }
    }
    // Crown: a fan of quads over row 0, two columns per quad, seen from above
    // counter-clockwise like the grid's quads seen from outside.
    for (int j = 0; j < cols; j += 2) {
        mesh.quads.push_back({layout.crownIndex(), layout.vertexIndex(0, j), layout.vertexIndex(0, (j + 1) % cols),
                              layout.vertexIndex(0, (j + 2) % cols)});
    }
    return mesh;
}

}  // namespace kelmo::generic_head
