// Muscle files (see muscle_file.h).
#include "tools/kelmo/muscle_file.h"

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "tools/kelmo/cli.h"

namespace kelmo::cli {

namespace {

float number(const std::string &token, const std::string &where) {
    try {
        const double v = parseNumberInRange(token, where, -1.0e6, 1.0e6);
        return static_cast<float>(v);
    } catch (const CliError &e) {
        throw failure(e.what());
    }
}

MusclePoint parsePoint(const std::vector<std::string> &words, const std::string &where) {
    MusclePoint p;
    std::size_t first = 1;
    if (words.size() >= 2 && words[1] == "feature") {
        if (words.size() != 3 && words.size() != 6)
            throw failure(where + ": expected 'feature N' or 'feature N dx dy dz'");
        try {
            p.feature = static_cast<int>(parseInteger(words[2], where + ": feature", 0, 65));
        } catch (const CliError &e) {
            throw failure(e.what());
        }
        if (words.size() == 3) return p;
        first = 3;
    } else if (words.size() != 4) {
        throw failure(where + ": expected 'x y z' or 'feature N [dx dy dz]'");
    }
    p.offset = {number(words[first], where), number(words[first + 1], where), number(words[first + 2], where)};
    return p;
}

}  // namespace

MuscleDefinition parseMuscle(const std::string &text, const std::string &name) {
    MuscleDefinition m;
    std::map<std::string, bool> seen;
    std::istringstream in(text);
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (const std::size_t hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        std::istringstream wordsIn(line);
        std::vector<std::string> words;
        for (std::string w; wordsIn >> w;) words.push_back(w);
        if (words.empty()) continue;
        const std::string where = name + ":" + std::to_string(lineNumber);
        const std::string &key = words[0];
        if (seen[key]) throw failure(where + ": '" + key + "' is given twice");
        seen[key] = true;
        if (key == "attachment") m.attachment = parsePoint(words, where);
        else if (key == "insertion") m.insertion = parsePoint(words, where);
        else if (key == "bound1") m.bound1 = parsePoint(words, where);
        else if (key == "bound2") m.bound2 = parsePoint(words, where);
        else if (key == "extension" || key == "strength" || key == "sharpness" || key == "regions") {
            if (words.size() != 2) throw failure(where + ": expected '" + key + " VALUE'");
            if (key == "regions") {
                try {
                    m.regions = static_cast<int>(parseInteger(words[1], where + ": regions", 1, 9));
                } catch (const CliError &e) {
                    throw failure(e.what());
                }
            } else {
                const float v = number(words[1], where + ": " + key);
                (key == "extension" ? m.extension : key == "strength" ? m.strength : m.sharpness) = v;
            }
        } else {
            throw failure(where + ": unknown key '" + key +
                          "' (expected attachment, insertion, bound1, bound2, extension, strength, sharpness, "
                          "regions)");
        }
    }
    for (const char *required : {"attachment", "insertion", "bound1", "bound2", "strength"})
        if (!seen[required]) throw failure(name + ": '" + required + "' is missing");
    return m;
}

MuscleDefinition readMuscleFile(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw failure("cannot read muscle file '" + path + "': no such file or not readable");
    std::ostringstream text;
    text << file.rdbuf();
    if (text.str().size() > (1 << 16)) throw failure("muscle file '" + path + "' is larger than 64 KB");
    return parseMuscle(text.str(), path);
}

TVector3f resolve(const MusclePoint &point, const std::array<TVector3f, 66> &featurePoints) {
    if (point.feature < 0) return point.offset;
    const TVector3f &f = featurePoints[static_cast<std::size_t>(point.feature)];
    return {f.x + point.offset.x, f.y + point.offset.y, f.z + point.offset.z};
}

}  // namespace kelmo::cli
