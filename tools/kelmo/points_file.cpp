// Points files (see points_file.h).
#include "tools/kelmo/points_file.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tools/kelmo/cli.h"

namespace kelmo::cli {

namespace {

// One number of a point line: the whole token must be a finite decimal.
bool parseCoordinate(const std::string &token, int32_t &out) {
    for (char c : token)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.' || c == 'e' ||
              c == 'E'))
            return false;
    errno = 0;
    char *end = nullptr;
    const double v = std::strtod(token.c_str(), &end);
    if (token.empty() || end != token.c_str() + token.size() || errno != 0 || !std::isfinite(v)) return false;
    if (std::fabs(v) > kMaxCoordinate) return false;
    out = static_cast<int32_t>(std::lround(v));
    return true;
}

std::string trimmed(const std::string &line) {
    const std::size_t a = line.find_first_not_of(" \t\r");
    if (a == std::string::npos) return {};
    const std::size_t b = line.find_last_not_of(" \t\r");
    return line.substr(a, b - a + 1);
}

}  // namespace

std::vector<PointI> parsePoints(const std::string &text, const std::string &name, int expectedCount,
                                int maxCount) {
    if (text.find('\0') != std::string::npos) throw failure(name + ": not a text file (it holds zero bytes)");
    std::vector<PointI> points;
    std::istringstream in(text);
    std::string line;
    int lineNumber = 0;
    const int limit = expectedCount > 0 ? expectedCount : maxCount;
    while (std::getline(in, line)) {
        ++lineNumber;
        const std::string t = trimmed(line);
        if (t.empty() || t[0] == '#') continue;
        std::istringstream words(t);
        std::string a, b, extra;
        words >> a >> b;
        const bool hasExtra = static_cast<bool>(words >> extra);
        PointI p;
        std::string shown = t.size() > 40 ? t.substr(0, 40) + "..." : t;
        if (b.empty() || hasExtra || !parseCoordinate(a, p.x) || !parseCoordinate(b, p.y))
            throw failure(name + ":" + std::to_string(lineNumber) + ": expected two numbers 'x y', found '" +
                          shown + "'");
        if (static_cast<int>(points.size()) >= limit)
            throw failure(name + ": more than " + std::to_string(limit) + " points (line " +
                          std::to_string(lineNumber) + "); expected " +
                          (expectedCount > 0 ? "exactly " + std::to_string(expectedCount) : "at most " +
                                                                                               std::to_string(maxCount)));
        points.push_back(p);
    }
    if (expectedCount > 0 && static_cast<int>(points.size()) != expectedCount)
        throw failure(name + ": " + std::to_string(points.size()) + " points, expected " +
                      std::to_string(expectedCount));
    if (points.empty()) throw failure(name + ": no points");
    return points;
}

std::vector<PointI> readPointsFile(const std::string &path, int expectedCount, int maxCount) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw failure("cannot read points file '" + path + "': " + std::strerror(errno));
    std::string text;
    constexpr std::size_t kMaxBytes = 1 << 20;
    char buffer[65536];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(file.gcount()));
        if (text.size() > kMaxBytes) throw failure("points file '" + path + "' is larger than 1 MB");
    }
    if (file.bad()) throw failure("cannot read points file '" + path + "'");
    return parsePoints(text, path, expectedCount, maxCount);
}

FeaturePoints readFeaturePoints(const std::string &path) {
    const std::vector<PointI> v = readPointsFile(path, kFeaturePointCount);
    FeaturePoints out;
    for (int i = 0; i < kFeaturePointCount; ++i) out[static_cast<std::size_t>(i)] = v[static_cast<std::size_t>(i)];
    return out;
}

std::string formatPoints(const std::vector<PointI> &points) {
    std::string text;
    for (const PointI &p : points) text += std::to_string(p.x) + " " + std::to_string(p.y) + "\n";
    return text;
}

std::string formatPoints(const FeaturePoints &points) {
    return formatPoints(std::vector<PointI>(points.begin(), points.end()));
}

std::vector<int32_t> flatten(const FeaturePoints &points) {
    std::vector<int32_t> flat;
    flat.reserve(2 * points.size());
    for (const PointI &p : points) {
        flat.push_back(p.x);
        flat.push_back(p.y);
    }
    return flat;
}

}  // namespace kelmo::cli
