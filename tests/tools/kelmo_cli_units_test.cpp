// Units of the kelmo tool (tools/kelmo), tested without running it: the
// points files, the option parser and number parsing, the 68-to-66 landmark
// mapping of docs/landmarks.md (checked against the table of the generic
// head's generator, an independent source), muscle files, the model record,
// atomic outputs and the HTML escaping of the demo report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "tools/kelmo/atomic_file.h"
#include "tools/kelmo/cli.h"
#include "tools/kelmo/html_report.h"
#include "tools/kelmo/landmark_scheme.h"
#include "tools/kelmo/model_ops.h"
#include "tools/kelmo/muscle_file.h"
#include "tools/kelmo/points_file.h"

namespace {

namespace fs = std::filesystem;
using namespace kelmo::cli;

fs::path testRoot() { return fs::temp_directory_path() / ("kelmo_cli_units_" + std::to_string(getpid())); }

// Removes the test's temporary folders at the end of the program.
class TemporaryFolders : public ::testing::Environment {
public:
    void TearDown() override { fs::remove_all(testRoot()); }
};
const auto *const kTemporaryFolders = ::testing::AddGlobalTestEnvironment(new TemporaryFolders);

// A fresh folder below the test's temporary directory.
fs::path freshFolder(const std::string &name) {
    const fs::path p = testRoot() / name;
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

std::string sixtySixLines() {
    std::string text;
    for (int i = 0; i < 66; ++i) text += std::to_string(i) + " " + std::to_string(1000 - i) + "\n";
    return text;
}

// Returns the message of the CliError that `f` throws ("" when none).
template <typename F>
std::string errorOf(F f, int *exitCode = nullptr) {
    try {
        f();
    } catch (const CliError &e) {
        if (exitCode) *exitCode = e.exitCode();
        return e.what();
    }
    return "";
}

// ---- Points files ---------------------------------------------------------------

TEST(PointsFile, SixtySixLinesOfTwoIntegersGiveThePointsInOrder) {
    const std::vector<PointI> p = parsePoints(sixtySixLines(), "p.txt", 66);
    ASSERT_EQ(p.size(), 66u);
    EXPECT_EQ(p[0].x, 0);
    EXPECT_EQ(p[0].y, 1000);
    EXPECT_EQ(p[65].x, 65);
    EXPECT_EQ(p[65].y, 935);
}

TEST(PointsFile, CommentsBlankLinesAndWindowsLineEndsAreIgnored) {
    std::string text = "# the 66 points\n\n";
    for (int i = 0; i < 66; ++i) text += "  " + std::to_string(i) + "\t7\r\n";
    EXPECT_EQ(parsePoints(text, "p.txt", 66).size(), 66u);
}

TEST(PointsFile, DecimalsRoundToTheNearestPixelHalvesAwayFromZero) {
    const std::vector<PointI> p = parsePoints("12.5 -3.5\n12.49 1e1\n", "p.txt", 0);
    EXPECT_EQ(p[0].x, 13);
    EXPECT_EQ(p[0].y, -4);
    EXPECT_EQ(p[1].x, 12);
    EXPECT_EQ(p[1].y, 10);
}

TEST(PointsFile, SixtyFiveLinesFailNamingTheCount) {
    std::string text = sixtySixLines();
    text.erase(text.rfind('\n', text.size() - 2) + 1);  // drop the last line
    EXPECT_EQ(errorOf([&] { parsePoints(text, "p.txt", 66); }), "p.txt: 65 points, expected 66");
}

TEST(PointsFile, SixtySevenLinesFailNamingTheLine) {
    const std::string message = errorOf([&] { parsePoints(sixtySixLines() + "1 2\n", "p.txt", 66); });
    EXPECT_NE(message.find("more than 66 points (line 67)"), std::string::npos) << message;
}

TEST(PointsFile, NonNumbersFailNamingFileLineAndText) {
    std::string text = sixtySixLines();
    text.replace(0, text.find('\n'), "12 abc");
    EXPECT_EQ(errorOf([&] { parsePoints(text, "p.txt", 66); }),
              "p.txt:1: expected two numbers 'x y', found '12 abc'");
}

TEST(PointsFile, OneNumberThreeNumbersInfinityNanAndHexAreRejected) {
    for (const char *line : {"5", "1 2 3", "inf 2", "nan 1", "0x10 2", "1e400 2", "2000000 1", "1 2,"}) {
        int code = 0;
        const std::string message = errorOf([&] { parsePoints(std::string(line) + "\n", "q", 0); }, &code);
        EXPECT_NE(message.find("q:1: expected two numbers"), std::string::npos) << line << ": " << message;
        EXPECT_EQ(code, kExitFailure) << line;
    }
}

TEST(PointsFile, EmptyFileAndZeroBytesFail) {
    EXPECT_EQ(errorOf([] { parsePoints("", "e.txt", 0); }), "e.txt: no points");
    EXPECT_NE(errorOf([] { parsePoints(std::string("1 2\n\0", 5), "z.txt", 0); }).find("not a text file"),
              std::string::npos);
}

TEST(PointsFile, EveryPrefixOfAValidFileFailsCleanly) {
    const std::string text = sixtySixLines();
    for (std::size_t n = 0; n < text.size(); ++n) {
        const std::string prefix = text.substr(0, n);
        // A text format cannot tell a cut number from a shorter one: a prefix
        // that ends after the first digit of the last line's y holds 66
        // points; every shorter prefix fails.
        const std::string message = errorOf([&] { parsePoints(prefix, "p", 66); });
        const std::size_t lastY = text.rfind("65 935") + 3;
        const bool complete = n >= lastY + 1;
        EXPECT_EQ(message.empty(), complete) << "prefix of " << n << " bytes: " << message;
    }
}

TEST(PointsFile, MissingFileFailsNamingIt) {
    const std::string message = errorOf([] { readPointsFile("/nonexistent/pts.txt", 66); });
    EXPECT_NE(message.find("cannot read points file '/nonexistent/pts.txt'"), std::string::npos) << message;
}

TEST(PointsFile, FormatThenParseGivesThePointsBack) {
    FeaturePoints p{};
    for (int i = 0; i < 66; ++i) p[static_cast<std::size_t>(i)] = {i * 3 - 50, 7 * i};
    const std::vector<PointI> back = parsePoints(formatPoints(p), "p", 66);
    for (int i = 0; i < 66; ++i) {
        EXPECT_EQ(back[static_cast<std::size_t>(i)].x, i * 3 - 50);
        EXPECT_EQ(back[static_cast<std::size_t>(i)].y, 7 * i);
    }
}

// ---- Option parsing and numbers ----------------------------------------------------

const std::vector<OptionSpec> kSpecs = {
    {"yaw", 0, true, false}, {"output", 'o', true, false}, {"no-smile", 0, false, false}, {"morph", 0, true, true}};

TEST(ParseArgs, LongShortInlineAndNegativeValues) {
    const ParsedArgs a = parseArgs({"photo.png", "--yaw", "-30", "-o", "out.png", "--morph=smile=1",
                                    "--morph", "jaw_open=0.5", "--no-smile"},
                                   kSpecs);
    EXPECT_EQ(a.positional, std::vector<std::string>{"photo.png"});
    EXPECT_EQ(*a.value("yaw"), "-30");
    EXPECT_EQ(*a.value("output"), "out.png");
    EXPECT_EQ(a.all("morph"), (std::vector<std::string>{"smile=1", "jaw_open=0.5"}));
    EXPECT_TRUE(a.has("no-smile"));
    EXPECT_FALSE(a.helpRequested);
}

TEST(ParseArgs, HelpAnywhereIsRequested) {
    EXPECT_TRUE(parseArgs({"x", "-h"}, kSpecs).helpRequested);
    EXPECT_TRUE(parseArgs({"--help", "--bogus"}, kSpecs).helpRequested);
}

TEST(ParseArgs, UnknownOptionMissingValueFlagValueAndRepeatsAreUsageErrors) {
    int code = 0;
    EXPECT_EQ(errorOf([] { parseArgs({"--bogus"}, kSpecs); }, &code), "unknown option '--bogus'");
    EXPECT_EQ(code, kExitUsage);
    EXPECT_EQ(errorOf([] { parseArgs({"--yaw"}, kSpecs); }), "option --yaw needs a value");
    EXPECT_EQ(errorOf([] { parseArgs({"--no-smile=1"}, kSpecs); }), "option --no-smile takes no value");
    EXPECT_EQ(errorOf([] { parseArgs({"--yaw", "1", "--yaw", "2"}, kSpecs); }),
              "option --yaw is given more than once");
}

TEST(ParseArgs, DoubleDashEndsOptions) {
    const ParsedArgs a = parseArgs({"--", "--yaw"}, kSpecs);
    EXPECT_EQ(a.positional, std::vector<std::string>{"--yaw"});
}

TEST(ParseNumbers, AcceptDecimalsRejectWordsInfinityAndOutOfRange) {
    EXPECT_DOUBLE_EQ(parseNumber("-12.5", "--yaw"), -12.5);
    EXPECT_DOUBLE_EQ(parseNumber("1e2", "--yaw"), 100.0);
    EXPECT_EQ(errorOf([] { parseNumber("abc", "--yaw"); }), "--yaw expects a number, not 'abc'");
    EXPECT_FALSE(errorOf([] { parseNumber("inf", "--yaw"); }).empty());
    EXPECT_FALSE(errorOf([] { parseNumber("1e999", "--yaw"); }).empty());
    EXPECT_FALSE(errorOf([] { parseNumber("", "--yaw"); }).empty());
    EXPECT_FALSE(errorOf([] { parseNumberInRange("400", "--yaw", -360, 360); }).empty());
    EXPECT_EQ(parseInteger("7", "-j", 1, 64), 7);
    EXPECT_FALSE(errorOf([] { parseInteger("0", "-j", 1, 64); }).empty());
    EXPECT_FALSE(errorOf([] { parseInteger("2.5", "-j", 1, 64); }).empty());
    EXPECT_FALSE(errorOf([] { parseInteger("99999999999999", "-j", 1, 64); }).empty());
}

TEST(ParseNumbers, SizesAreWidthByHeightOrOneSide) {
    const Size2 a = parseSize("640x480", "--size", 8192);
    EXPECT_EQ(a.width, 640);
    EXPECT_EQ(a.height, 480);
    const Size2 b = parseSize("300", "--size", 8192);
    EXPECT_EQ(b.width, 300);
    EXPECT_EQ(b.height, 300);
    for (const char *bad : {"0x10", "10x", "x10", "10x10x10", "-5x5", "9000x10", "axb"})
        EXPECT_FALSE(errorOf([&] { parseSize(bad, "--size", 8192); }).empty()) << bad;
}

// ---- The 68-to-66 mapping --------------------------------------------------------

// The generator of the generic head prints the scheme's table
// (`kelmo_generic_head --landmark-table`, docs/landmarks.md); the tool's
// own table must say the same for every index.
TEST(LandmarkScheme, SourcesAgreeWithTheGenericHeadsTable) {
    const std::string command = std::string(KELMO_GENERIC_HEAD_TOOL) + " --landmark-table";
    std::FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string table;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe)) table += buffer;
    ASSERT_EQ(pclose(pipe), 0);
    std::istringstream in(table);
    std::string line;
    int rows = 0;
    const std::regex row(R"(^\| (\d+) \| [^|]+ \| ([^|]+) \| [^|]+ \| (\d) \|)");
    while (std::getline(in, line)) {
        std::smatch m;
        if (!std::regex_search(line, m, row)) continue;
        const int index = std::stoi(m[1]);
        std::vector<int> expected;
        const std::regex number(R"(\d+)");
        const std::string sources = m[2];
        for (auto it = std::sregex_iterator(sources.begin(), sources.end(), number); it != std::sregex_iterator(); ++it)
            expected.push_back(std::stoi(it->str()));
        EXPECT_EQ(ibugSources(index), expected) << "index " << index;
        ++rows;
    }
    EXPECT_EQ(rows, 66);
}

TEST(LandmarkScheme, EyeCentresAreTheRoundedMeansOfTheSixEyePoints) {
    IbugPoints ibug{};
    for (int k = 0; k < 68; ++k) ibug[static_cast<std::size_t>(k)] = {k * 10, 1000 + k};
    // Put the right eye's points at x = 1, 2, 3, 4, 5, 6 (mean 3.5, rounds to 4)
    // and y = 0 except one at 3 (mean 0.5, rounds to 1).
    for (int k = 36; k <= 41; ++k) ibug[static_cast<std::size_t>(k)] = {k - 35, 0};
    ibug[36].y = 3;
    const FeaturePoints p = mapIbugToFeaturePoints(ibug);
    EXPECT_EQ(p[0].x, 4);
    EXPECT_EQ(p[0].y, 1);
    // Point 29 is the mean of 37 and 38: x (2 + 3) / 2 = 2.5 rounds to 3.
    EXPECT_EQ(p[29].x, 3);
    // Single sources copy their point: 3 <- 48, 64 <- 66, 22 <- 1.
    EXPECT_EQ(p[3].x, 480);
    EXPECT_EQ(p[64].y, 1066);
    EXPECT_EQ(p[22].x, 10);
}

TEST(LandmarkScheme, RolesFollowPart31) {
    int eyeball = 0, excluded = 0, control = 0;
    for (int i = 0; i < 66; ++i) {
        switch (landmarkRole(i)) {
        case LandmarkRole::kEyeball: ++eyeball; break;
        case LandmarkRole::kExcluded: ++excluded; break;
        case LandmarkRole::kControl: ++control; break;
        }
    }
    EXPECT_EQ(eyeball, 6);
    EXPECT_EQ(excluded, 4);
    EXPECT_EQ(control, 56);  // Part 3.1: "The count ends at 56."
    EXPECT_EQ(landmarkRole(43), LandmarkRole::kExcluded);
    EXPECT_EQ(landmarkRole(33), LandmarkRole::kEyeball);
}

// ---- Muscle files -------------------------------------------------------------------

const char *kMuscle =
    "# a muscle\n"
    "attachment feature 36 -0.5 -1 0  # A\n"
    "insertion 1 2 3\n"
    "bound1 feature 3\n"
    "bound2 0 0 1\n"
    "strength 0.25\n"
    "regions 2\n";

TEST(MuscleFile, PointsAreFeaturePointsWithOffsetsOrAbsolute) {
    const MuscleDefinition m = parseMuscle(kMuscle, "m");
    std::array<TVector3f, 66> features{};
    features[36] = {1.0f, 2.0f, 3.0f};
    features[3] = {-1.0f, -2.0f, -3.0f};
    const TVector3f a = resolve(m.attachment, features);
    EXPECT_FLOAT_EQ(a.x, 0.5f);
    EXPECT_FLOAT_EQ(a.y, 1.0f);
    EXPECT_FLOAT_EQ(a.z, 3.0f);
    const TVector3f b = resolve(m.insertion, features);
    EXPECT_FLOAT_EQ(b.z, 3.0f);
    EXPECT_FLOAT_EQ(resolve(m.bound1, features).x, -1.0f);
    EXPECT_FLOAT_EQ(m.strength, 0.25f);
    EXPECT_FLOAT_EQ(m.extension, 0.5f);  // the default
    EXPECT_FLOAT_EQ(m.sharpness, 1.0f);  // the default
    EXPECT_EQ(m.regions, 2);
}

TEST(MuscleFile, MissingKeysUnknownKeysRepeatsAndBadValuesFailNamingTheLine) {
    EXPECT_EQ(errorOf([] { parseMuscle("attachment 0 0 0\n", "m"); }), "m: 'insertion' is missing");
    EXPECT_NE(errorOf([] { parseMuscle("tendon 1\n", "m"); }).find("m:1: unknown key 'tendon'"), std::string::npos);
    EXPECT_NE(errorOf([] { parseMuscle("strength 1\nstrength 2\n", "m"); }).find("m:2: 'strength' is given twice"),
              std::string::npos);
    EXPECT_NE(errorOf([] { parseMuscle("attachment feature 66\n", "m"); }).find("m:1"), std::string::npos);
    EXPECT_NE(errorOf([] { parseMuscle("insertion 1 2\n", "m"); }).find("m:1: expected 'x y z'"), std::string::npos);
    EXPECT_NE(errorOf([] { parseMuscle("strength abc\n", "m"); }).find("m:1"), std::string::npos);
}

TEST(MuscleFile, EveryPrefixOfAValidFileFailsOrParses) {
    const std::string text = kMuscle;
    for (std::size_t n = 0; n <= text.size(); ++n) {
        const std::string message = errorOf([&] { parseMuscle(text.substr(0, n), "m"); });
        // Strength is the last required key: no prefix without its first
        // digit parses.
        if (n < text.find("strength 0.25") + 10) {
            EXPECT_FALSE(message.empty()) << n;
        }
    }
}

// ---- The model record ---------------------------------------------------------------

TEST(ModelRecord, WrittenRecordReadsBackWithItsOptions) {
    const fs::path dir = freshFolder("record");
    ModelRecord r;
    r.photoFile = "photo.jpg";
    r.pointsFile = "points.txt";
    r.options.noSmile = true;
    r.options.genericTeeth = true;
    r.expressionClass = 1;
    std::ofstream(dir / "model.txt") << formatModelRecord(r);
    ASSERT_TRUE(isModelFolder(dir.string()));
    const ModelRecord back = readModelRecord(dir.string());
    EXPECT_EQ(back.photoFile, "photo.jpg");
    EXPECT_TRUE(back.options.noSmile);
    EXPECT_FALSE(back.options.closedMouth);
    EXPECT_FALSE(back.options.noMask);
    EXPECT_TRUE(back.options.genericTeeth);
    EXPECT_EQ(back.expressionClass, 1);
}

TEST(ModelRecord, AFileNameWithAFolderOrAMissingFlagIsRejected) {
    const fs::path dir = freshFolder("record_bad");
    std::ofstream(dir / "model.txt") << "photo ../secret.png\npoints points.txt\n";
    EXPECT_NE(errorOf([&] { readModelRecord(dir.string()); }).find("'photo' must name a file of the folder"),
              std::string::npos);
    std::ofstream(dir / "model.txt") << "photo p.png\npoints points.txt\nno-smile 2\n";
    EXPECT_NE(errorOf([&] { readModelRecord(dir.string()); }).find("'no-smile' must be 0 or 1"), std::string::npos);
}

TEST(MorphRequest, NameEqualsWeight) {
    const MorphRequest r = parseMorphRequest("jaw_open=0.75");
    EXPECT_EQ(r.name, "jaw_open");
    EXPECT_FLOAT_EQ(r.weight, 0.75f);
    EXPECT_FALSE(errorOf([] { parseMorphRequest("smile"); }).empty());
    EXPECT_FALSE(errorOf([] { parseMorphRequest("=1"); }).empty());
    EXPECT_FALSE(errorOf([] { parseMorphRequest("smile=x"); }).empty());
    EXPECT_FALSE(errorOf([] { parseMorphRequest("smile=11"); }).empty());
}

// ---- Atomic outputs -----------------------------------------------------------------

std::vector<std::string> entriesBelow(const fs::path &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::recursive_directory_iterator(dir)) names.push_back(fs::relative(e.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(OutputSet, NothingAppearsUnderItsFinalNameBeforeCommit) {
    const fs::path dir = freshFolder("commit");
    {
        OutputSet out;
        out.writeText((dir / "a" / "b" / "x.txt").string(), "hello");
        EXPECT_FALSE(fs::exists(dir / "a" / "b" / "x.txt"));
        out.commit();
    }
    std::ifstream in(dir / "a" / "b" / "x.txt");
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "hello");
    EXPECT_EQ(entriesBelow(dir), (std::vector<std::string>{"a", "a/b", "a/b/x.txt"}));
}

TEST(OutputSet, WithoutCommitTheFilesAndTheFoldersItCreatedAreRemoved) {
    const fs::path dir = freshFolder("rollback");
    {
        OutputSet out;
        out.writeText((dir / "new" / "deeper" / "x.txt").string(), "hello");
        out.writeText((dir / "y.txt").string(), "world");
        EXPECT_EQ(entriesBelow(dir).size(), 4u);  // the two folders and two temporary files
    }
    EXPECT_TRUE(entriesBelow(dir).empty());
}

TEST(OutputSet, CommitReplacesAnExistingFileWhole) {
    const fs::path dir = freshFolder("replace");
    std::ofstream(dir / "x.txt") << "old contents that are longer";
    writeTextAtomically((dir / "x.txt").string(), "new");
    std::ifstream in(dir / "x.txt");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "new");
    EXPECT_EQ(entriesBelow(dir), std::vector<std::string>{"x.txt"});
}

TEST(OutputSet, TemporaryNamesKeepTheExtensionAndStartWithADot) {
    const fs::path dir = freshFolder("names");
    OutputSet out;
    const fs::path temporary = out.stage((dir / "front.png").string());
    EXPECT_EQ(temporary.extension(), ".png");
    EXPECT_EQ(temporary.filename().string().front(), '.');
    EXPECT_EQ(temporary.parent_path(), dir);
}

TEST(OutputSet, AnOutputThatIsAFolderFailsNamingIt) {
    const fs::path dir = freshFolder("folder");
    OutputSet out;
    EXPECT_NE(errorOf([&] { out.writeText(dir.string(), "x"); }).find("is a folder"), std::string::npos);
}

// ---- The demo report ---------------------------------------------------------------

TEST(HtmlReport, TextIsEscapedAndEveryPictureIsShown) {
    EXPECT_EQ(htmlEscape("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");
    DemoReport r;
    r.photoName = "<me>.png";
    r.pictures = {{"a.png", "A", "first"}, {"b c.png", "B", "second"}};
    const std::string html = renderReport(r);
    EXPECT_NE(html.find("<img src=\"a.png\""), std::string::npos);
    EXPECT_NE(html.find("<img src=\"b c.png\""), std::string::npos);
    EXPECT_NE(html.find("&lt;me&gt;.png"), std::string::npos);
    EXPECT_EQ(html.find("<me>"), std::string::npos);
}

}  // namespace
