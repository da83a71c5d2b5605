// Units of the kelmo tool, tested without running it: points and muscle
// files, the option parser and numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>

#include "tools/kelmo/cli.h"
#include "tools/kelmo/face_landmarks.h"
#include "tools/kelmo/session.h"
#include "tools/kelmo/model_ops.h"
#include "tools/kelmo/whole_head.h"

namespace {

using namespace kelmo::cli;

// The message of the CliError that `f` throws ("" when none), its exit code in *code.
template <typename F>
std::string errorOf(F f, int *code = nullptr) {
    try {
        f();
        return "";
    } catch (const CliError &e) {
        return (code ? *code = e.exitCode() : 0), e.what();
    }
}

std::string pointLines(int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += std::to_string(i) + " " + std::to_string(1000 - i) + "\n";
    return text;
}

TEST(PointsFile, ParsesRoundsAndRejectsNamingFileAndLine) {
    const std::vector<PointI> p = parsePoints("# comment\n\n  12.5\t-3.5\r\n12.49 1e1\n", "p", 0);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(std::vector<int>({p[0].x, p[0].y, p[1].x, p[1].y}), std::vector<int>({13, -4, 12, 10}));
    EXPECT_EQ(formatPoints(parsePoints(pointLines(66), "p", 66)), pointLines(66));
    const std::pair<std::string, std::string> bad[] = {
        {pointLines(65), "p: 65 points, expected 66"}, {pointLines(67), "more than 66 points (line 67)"},
        {"12 abc\n", "p:1: expected two numbers 'x y', found '12 abc'"}, {"\n5\n", "p:2:"}, {"1 2 3\n", "p:1:"},
        {"inf 2\n", "p:1:"}, {"0x10 2\n", "p:1:"}, {"1e400 2\n", "p:1:"}, {"2000000 1\n", "p:1:"},
        {"1 2,\n", "p:1:"}, {std::string("1 2\n\0", 5), "not a text file"}};
    for (const auto &[text, message] : bad) {
        int code = 0;
        EXPECT_NE(errorOf([&] { parsePoints(text, "p", 66); }, &code).find(message), std::string::npos) << text;
        EXPECT_EQ(code, kExitFailure) << text;
    }
    // Every prefix fails until the last number begins (a cut number reads as a shorter one).
    const std::string text = pointLines(66);
    for (std::size_t n = 0; n < text.size(); ++n)
        EXPECT_EQ(errorOf([&] { parsePoints(text.substr(0, n), "p", 66); }).empty(), n > text.rfind("935")) << n;
}

TEST(ParseArgs, ValuesFlagsRepeatsAndUsageErrorsNamingTheOption) {
    const std::vector<OptionSpec> specs = {
        {"yaw", 0, true, false}, {"output", 'o', true, false}, {"no-smile", 0, false, false}, {"morph", 0, true, true}};
    const ParsedArgs a = parseArgs({"in.png", "--yaw", "-30", "-o", "o.png", "--morph=smile=1", "--morph",
                                    "jaw_open=0.5", "--no-smile", "--", "--yaw"},
                                   specs);
    EXPECT_EQ(a.positional, (std::vector<std::string>{"in.png", "--yaw"}));
    EXPECT_EQ(a.value("yaw").value_or("") + a.value("output").value_or(""), "-30o.png");
    EXPECT_EQ(a.all("morph"), (std::vector<std::string>{"smile=1", "jaw_open=0.5"}));
    EXPECT_TRUE(a.has("no-smile") && !a.helpRequested && parseArgs({"x", "--help", "--bogus"}, specs).helpRequested);
    for (const auto &[args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--bogus"}, "'--bogus'"}, {{"-x"}, "'-x'"}, {{"--yaw"}, "--yaw needs a value"},
             {{"--no-smile=1"}, "--no-smile takes no value"}, {{"--yaw", "1", "--yaw=2"}, "--yaw is given more"}}) {
        int code = 0;
        EXPECT_NE(errorOf([&] { parseArgs(args, specs); }, &code).find(message), std::string::npos) << message;
        EXPECT_EQ(code, kExitUsage) << message;
    }
}

TEST(ParseNumbers, AcceptFiniteDecimalsWithinTheirRangeOnly) {
    EXPECT_EQ(parseNumber("-12.5", "--yaw") + parseNumber("1e2", "--yaw"), 87.5);
    EXPECT_EQ(parseNumberInRange("-360", "--yaw", -360, 360), -360.0);
    EXPECT_EQ(parseInteger("64", "-j", 1, 64) + parseInteger("1", "-j", 1, 64), 65);
    EXPECT_EQ(parseSize("640x480", "--size", 8192).height + parseSize("8192", "--size", 8192).width, 8672);
    EXPECT_EQ(parseMorphRequest("jaw_open=0.75").name, "jaw_open");
    EXPECT_EQ(parseMorphRequest("jaw_open=0.75").weight, 0.75f);
    EXPECT_NE(errorOf([] { parseNumber("abc", "--yaw"); }).find("--yaw expects a number, not 'abc'"),
              std::string::npos);
    for (const char *t : {"inf", "nan", "1e999", "", "0x10", "1,5"})
        EXPECT_FALSE(errorOf([&] { parseNumber(t, "-x"); }).empty()) << t;
    for (const char *t : {"0", "65", "2.5", "99999999999999", "+"})
        EXPECT_FALSE(errorOf([&] { parseInteger(t, "-x", 1, 64); }).empty()) << t;
    for (const char *t : {"0x10", "10x", "10x10x10", "9000x10"})
        EXPECT_FALSE(errorOf([&] { parseSize(t, "-x", 8192); }).empty()) << t;
    for (const char *t : {"smile", "=1", "smile=11"}) EXPECT_FALSE(errorOf([&] { parseMorphRequest(t); }).empty()) << t;
    EXPECT_FALSE(errorOf([] { parseNumberInRange("400", "--yaw", -360, 360); }).empty());
}

TEST(MuscleFile, PointsAreFeaturePointsPlusOffsetsOrAbsoluteAndBadLinesAreNamed) {
    const MuscleDefinition m = parseMuscle(
        "# a muscle\nattachment feature 36 -0.5 -1 0  # A\ninsertion 1 2 3\nbound1 feature 3\nbound2 0 0 1\n"
        "strength 0.25\nregions 2\n",
        "m");
    std::array<TVector3f, 66> features{};
    features[36] = {1.0f, 2.0f, 3.0f};
    const TVector3f a = resolve(m.attachment, features), b = resolve(m.insertion, features);
    EXPECT_EQ(std::vector<float>({a.x, a.y, a.z, b.x, b.y, b.z}), std::vector<float>({0.5f, 1, 3, 1, 2, 3}));
    EXPECT_EQ(std::vector<float>({m.strength, m.extension, m.sharpness, float(m.regions)}),
              std::vector<float>({0.25f, 0.5f, 1, 2}));
    for (const auto &[text, message] : std::vector<std::pair<std::string, std::string>>{
             {"attachment 0 0 0\n", "'insertion' is missing"}, {"tendon 1\n", "m:1: unknown key 'tendon'"},
             {"strength 1\nstrength 2\n", "m:2: 'strength' is given twice"}, {"attachment feature 66\n", "m:1"},
             {"insertion 1 2\n", "m:1: expected 'x y z'"}})
        EXPECT_NE(errorOf([&] { parseMuscle(text, "m"); }).find(message), std::string::npos) << text;
}

// A 96 x 96 face texture: opaque inside a disc, transparent green outside;
// cheeks of colour C, a forehead of hair or of a skin close to C. The tone is
// the cheeks' colour, moved toward the forehead only by skin; completion
// keeps the opaque face, turns the transparent rest and the border into the
// tone, half-transparent pixels halfway, and leaves nothing transparent.
TEST(WholeHead, SkinToneComesFromCheeksAndSkinOfTheForeheadAndFillsAllButTheFace) {
    std::array<std::array<double, 2>, 66> pt{};
    pt.fill({48, 48});
    pt[0] = {36, 40}, pt[1] = {60, 40};                                   // eye centres
    pt[41] = {32, 46}, pt[3] = {38, 66}, pt[6] = {26, 64};                // right cheek around (32, 58.7)
    pt[48] = {64, 46}, pt[4] = {58, 66}, pt[12] = {70, 64};               // left cheek around (64, 58.7)
    pt[18] = {44, 34}, pt[19] = {52, 34};                                 // brows: the forehead around (48, 22)
    for (const auto &[forehead, low, high] : std::vector<std::tuple<uint8_t, double, double>>{
             {40, 200.0, 200.0}, {210, 200.5, 209.5}}) {  // hair (left out); skin 10 levels above C
        std::vector<uint8_t> rgba(96 * 96 * 4);
        for (int y = 0; y < 96; ++y)
            for (int x = 0; x < 96; ++x) {
                uint8_t *p = &rgba[(y * 96 + x) * 4];
                const bool face = (x - 48) * (x - 48) + (y - 48) * (y - 48) < 40 * 40 || y == 95;
                const uint8_t c = y < 30 ? forehead : 200;
                p[0] = face ? c : 10, p[1] = face ? uint8_t(c - 50) : 250, p[2] = face ? uint8_t(c - 80) : 10;
                p[3] = face ? 255 : x == 10 && y == 10 ? 128 : 0;
            }
        const SkinTone t = estimateSkinTone(rgba, 96, 96, pt);
        EXPECT_TRUE(t.r >= low && t.r <= high && t.g - t.r == -50.0 && std::abs(t.b - t.r + 80.0) < 1e-9) << t.r;
        completeWithSkin(rgba, 96, 96, t);
        for (int k = 0; k < 96 * 96; ++k) ASSERT_EQ(rgba[k * 4 + 3], 255) << k;
        const auto red = [&](int x, int y) { return double(rgba[(y * 96 + x) * 4]); };
        EXPECT_EQ(red(48, 48), 200);                                           // the face stays
        EXPECT_NEAR(red(20, 85), t.r, 0.5);                                    // the transparent rest
        EXPECT_NEAR(red(0, 48) + red(48, 0) + red(95, 95), 3 * t.r, 1.5);      // the border, even of a face
        EXPECT_NEAR(red(10, 10), (10 + t.r) / 2, 1.0);                         // half-transparent: halfway
    }
}

// A phone-sized JPEG (the sample photo scaled up to 3464 x 3464 with pixel
// centres aligned): the detector works on the decoder's quarter-size image
// and the 68 points are placed on the full photo. Scaled back, they must fall
// where the original photo's points are: within 1 % of the distance between
// the eyes on average (the usual error measure of landmarks), 2 % at worst,
// measured from the original's pixel (its points are rounded to whole
// pixels, an uncertainty of 0.8 % of that distance here).
TEST(FaceLandmarks, LargeJpegFoundReducedGivesTheOriginalsPointsScaledUp) {
    // The cross-built Windows tests have neither (scripts/check-windows.sh
    // runs the tool's landmarks there instead).
    if (!std::filesystem::exists(KELMO_SAMPLE_PHOTO) || !std::filesystem::exists(defaultLandmarkModel()))
        GTEST_SKIP() << "no sample photo or landmark model in this build";
    const Image original = loadPhoto(KELMO_SAMPLE_PHOTO);
    FaceLandmarker landmarker(defaultLandmarkModel());
    const std::vector<DetectedFace> small =
        landmarker.detect(original.pixels(TAVO_IMAGEMODE_COLOR), original.width(), original.height());
    ASSERT_EQ(small.size(), 1u);
    const int side = 3464;
    const double scale = static_cast<double>(side) / original.width();
    const std::string path = testing::TempDir() + "kelmo_large_photo.jpg";
    {
        Image large;
        ASSERT_EQ(TAVO_ResizeImage(original.handle(), scale, large.handle()), 0);
        ASSERT_EQ(TAVO_SaveImageToFile(large.handle(), path.c_str()), 0);
    }
    const Image photo = loadPhoto(path);
    const std::optional<ReducedPhoto> reduced = reducedForDetection(photo, path);
    std::remove(path.c_str());
    ASSERT_TRUE(reduced && reduced->reduction == 4 && reduced->width == side / 4 && photo.width() == side);
    const std::vector<DetectedFace> large =
        landmarker.detect(photo.pixels(TAVO_IMAGEMODE_COLOR), photo.width(), photo.height(), &*reduced);
    ASSERT_EQ(large.size(), 1u);

    const auto at = [&](int k) {  // the original's point k, scaled up
        return std::array<double, 2>{(small[0].ibug[k].x + 0.5) * scale - 0.5, (small[0].ibug[k].y + 0.5) * scale - 0.5};
    };
    double eyes[2][2] = {};  // centres of the points 36-41 and 42-47
    for (int k = 36; k < 48; ++k)
        for (int a = 0; a < 2; ++a) eyes[(k - 36) / 6][a] += at(k)[a] / 6;
    const double interOcular = std::hypot(eyes[1][0] - eyes[0][0], eyes[1][1] - eyes[0][1]);
    const double halfPixel = 0.5 * scale;
    double sum = 0, worst = 0;
    for (int k = 0; k < kIbugPointCount; ++k) {
        const double e = std::hypot(std::max(0.0, std::abs(large[0].ibug[k].x - at(k)[0]) - halfPixel),
                                    std::max(0.0, std::abs(large[0].ibug[k].y - at(k)[1]) - halfPixel));
        sum += e, worst = std::max(worst, e);
    }
    EXPECT_LE(sum / kIbugPointCount, 0.01 * interOcular) << interOcular;
    EXPECT_LE(worst, 0.02 * interOcular) << interOcular;
}

}  // namespace
