// VRML model import.
#include "model/vrml_import.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <utility>

#include "fitting/region_builders.h"
#include "frame/file_access.h"
#include "kelmo.h"
#include "model/model_table.h"

namespace kelmo {

namespace {

// ---- Lines ------------------------------------------------------------------

enum class LineStatus { ok, end, tooLong };

// Reads a text file line by line through a block buffer. A line is what
// precedes a '\n' (or the end of the file), less a '\r' just before the '\n',
// as a Windows text stream delivers it; it may hold at most 1023 characters.
class LineReader {
public:
    explicit LineReader(std::FILE *file) : file_(file), block_(kBlockBytes) {}

    LineStatus read(std::string &line) {
        line.clear();
        int c = next();
        if (c == EOF) return LineStatus::end;
        while (c != EOF && c != '\n') {
            // One character more than the limit may be a '\r' before '\n'.
            if (line.size() > kVrmlMaxLineLength) return LineStatus::tooLong;
            line.push_back(static_cast<char>(c));
            c = next();
        }
        if (c == '\n' && !line.empty() && line.back() == '\r') line.pop_back();
        return line.size() > kVrmlMaxLineLength ? LineStatus::tooLong : LineStatus::ok;
    }

private:
    static constexpr std::size_t kBlockBytes = 65536;

    int next() {
        if (position_ == filled_) {
            filled_ = std::fread(block_.data(), 1, block_.size(), file_);
            position_ = 0;
            if (filled_ == 0) return EOF;
        }
        return static_cast<unsigned char>(block_[position_++]);
    }

    std::FILE *file_;
    std::vector<char> block_;
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
};

// ---- Conversions: the C library's "%f" and "%i", on one line --------------

bool isScanfSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

const char *skipSpace(const char *text) {
    while (isScanfSpace(*text)) ++text;
    return text;
}

// "%f": white space skipped, then the longest number strtof reads. Returns
// false (nothing stored) when there is none.
bool convertFloat(const char *&text, float &value) {
    const char *start = skipSpace(text);
    char *end = nullptr;
    const float converted = std::strtof(start, &end);
    if (end == start) return false;
    value = converted;
    text = end;
    return true;
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;  // above every base
}

enum class IntegerStatus { ok, none, overflow };

// "%i": white space skipped, an optional sign, then "0x" and hexadecimal
// digits, "0" and octal digits, or decimal digits; the number ends at the
// first character that cannot continue it. A value beyond 32 bits is reported
// rather than wrapped (the C library leaves it undefined).
IntegerStatus convertInteger(const char *&text, int32_t &value) {
    const char *c = skipSpace(text);
    bool negative = false;
    if (*c == '+' || *c == '-') {
        negative = (*c == '-');
        ++c;
    }
    int base = 10;
    if (*c == '0') {
        if ((c[1] == 'x' || c[1] == 'X') && digitValue(c[2]) < 16) {
            base = 16;
            c += 2;
        } else {
            base = 8;  // the leading 0 is itself an octal digit
        }
    } else if (digitValue(*c) >= 10) {
        return IntegerStatus::none;
    }
    const int64_t limit = negative ? int64_t{1} << 31 : (int64_t{1} << 31) - 1;
    int64_t magnitude = 0;
    bool overflow = false;
    while (digitValue(*c) < base) {
        if (!overflow) {
            magnitude = magnitude * base + digitValue(*c);
            overflow = magnitude > limit;
        }
        ++c;
    }
    text = c;
    if (overflow) return IntegerStatus::overflow;
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return IntegerStatus::ok;
}

// "%f %f %f" or "%f %f": converts up to `count` floats in order, stopping at
// the first that fails; the ones not converted keep their value (0).
void convertFloats(const std::string &line, float *values, int count) {
    const char *text = line.c_str();
    for (int k = 0; k < count; ++k)
        if (!convertFloat(text, values[k])) return;  // the spaces between are skipped by the next "%f"
}

// "%i, %i, %i, %i": up to four integers, each after the first preceded by a
// comma (directly after the number before it) and any white space; stops at
// the first mismatch, the rest of the line ignored. Corners not converted stay
// 0. False when a number does not fit 32 bits.
bool convertQuad(const std::string &line, Quad &quad) {
    const char *text = line.c_str();
    for (std::size_t k = 0; k < quad.size(); ++k) {
        if (k > 0) {
            if (*text != ',') return true;
            ++text;  // the space directive that follows is "%i"'s own skip
        }
        const IntegerStatus status = convertInteger(text, quad[k]);
        if (status == IntegerStatus::overflow) return false;
        if (status == IntegerStatus::none) return true;
    }
    return true;
}

// ---- The reading procedure -------------------------------------------------

class VrmlReader {
public:
    explicit VrmlReader(std::FILE *file) : lines_(file) {}

    // Skip to a list: while the test line holds no "[", read the next line
    // into the buffer and make it the test line. With `rememberFile`, a test
    // line holding "file" is remembered before it is replaced.
    VrmlStatus skipToList(bool rememberFile) {
        while (test_.find('[') == std::string::npos) {
            if (rememberFile && test_.find("file") != std::string::npos) remembered_ = test_;
            if (const VrmlStatus status = readLine(); status != VrmlStatus::ok) return status;
            test_ = buffer_;
        }
        return VrmlStatus::ok;
    }

    // Before the texture points: the last remembered "file" line (empty if
    // none yet in this import) becomes the test line.
    void testRememberedLine() { test_ = remembered_; }

    // Read a list: read the next line into the buffer; then, until the test
    // line holds "]", convert the buffer into the next entry, read the next
    // line and make it the test line.
    template <typename Entry, typename Convert>
    VrmlStatus readList(std::vector<Entry> &entries, Convert convert) {
        if (const VrmlStatus status = readLine(); status != VrmlStatus::ok) return status;
        while (test_.find(']') == std::string::npos) {
            if (entries.size() >= kVrmlMaxListEntries) return VrmlStatus::listTooLong;
            Entry entry{};
            if (!convert(buffer_, entry)) return VrmlStatus::badIndex;
            entries.push_back(entry);
            if (const VrmlStatus status = readLine(); status != VrmlStatus::ok) return status;
            test_ = buffer_;
        }
        return VrmlStatus::ok;
    }

private:
    // A file that ends before the six shapes fails the import (the reading
    // loops would otherwise never end).
    VrmlStatus readLine() {
        switch (lines_.read(buffer_)) {
            case LineStatus::ok: return VrmlStatus::ok;
            case LineStatus::end: return VrmlStatus::endsEarly;
            case LineStatus::tooLong: return VrmlStatus::lineTooLong;
        }
        return VrmlStatus::endsEarly;
    }

    LineReader lines_;
    std::string buffer_;      // the line last read
    std::string test_;        // the line last tested for brackets
    std::string remembered_;  // the last test line holding "file"
};

bool convertPoint(const std::string &line, TVector3f &point) {
    float xyz[3] = {0.0f, 0.0f, 0.0f};
    convertFloats(line, xyz, 3);
    // Each coordinate times the float nearest 0.03.
    point = TVector3f{xyz[0] * kVrmlScale, xyz[1] * kVrmlScale, xyz[2] * kVrmlScale};
    return true;
}

bool convertTexturePoint(const std::string &line, TPointf &point) {
    float xy[2] = {0.0f, 0.0f};
    convertFloats(line, xy, 2);
    point = TPointf{xy[0], xy[1]};
    return true;
}

// Reading the visibility file: flag i is 1 when byte i is 1. One byte more
// than the limit is read to tell a file that exceeds it.
VrmlStatus readVisibility(std::vector<uint8_t> &flags) {
    FilePtr file = openFile(kVisibilityFilePath, "rb");
    if (!file) return VrmlStatus::visibilityMissing;
    std::vector<uint8_t> bytes(kVisibilityMaxBytes + 1);
    const std::size_t count = std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (count > kVisibilityMaxBytes) return VrmlStatus::visibilityTooLong;
    flags.resize(count);
    for (std::size_t i = 0; i < count; ++i) flags[i] = bytes[i] == 1 ? 1 : 0;
    return VrmlStatus::ok;
}

bool cornersBelow(const std::vector<Quad> &quads, std::size_t limit) {
    for (const Quad &quad : quads)
        for (const int32_t corner : quad)
            if (corner < 0 || static_cast<std::size_t>(corner) >= limit) return false;
    return true;
}

// The invariants of every region that the rest of the library relies on, and
// enough texture points in region 0, whose texture coordinates are taken by
// vertex index.
bool regionsValid(const std::vector<TRegion> &regions) {
    for (std::size_t r = 0; r < regions.size(); ++r) {
        const TRegion &region = regions[r];
        if (!cornersBelow(region.quads, region.vertices.size())) return false;
        if (r == 0) {
            // Region 0's texture quads are replaced by its quads on copying.
            if (region.textureCoords.size() < region.vertices.size()) return false;
        } else if (region.textureQuads.size() != region.quads.size() ||
                   !cornersBelow(region.textureQuads, region.textureCoords.size())) {
            return false;
        }
    }
    return true;
}

}  // namespace

VrmlStatus readVrmlHead(const std::string &path, std::vector<TRegion> &regions, std::vector<uint8_t> &visibleQuads) {
    // A working model of six default regions.
    std::vector<TRegion> working(kVrmlShapeCount);
    std::vector<uint8_t> fileFlags;
    FilePtr file = openFile(path, "r");
    if (!file) return VrmlStatus::cannotOpen;
    VrmlReader reader(file.get());
    // Each shape: points, texture points, quads, texture quads; after region
    // 0's lists, its visibility file.
    for (std::size_t shape = 0; shape < kVrmlShapeCount; ++shape) {
        const std::size_t r = kVrmlShapeRegions[shape];
        TRegion &region = working[r];
        VrmlStatus status = reader.skipToList(false);
        if (status == VrmlStatus::ok) status = reader.readList(region.vertices, convertPoint);
        if (status == VrmlStatus::ok) status = reader.skipToList(true);
        if (status == VrmlStatus::ok) {
            reader.testRememberedLine();
            status = reader.readList(region.textureCoords, convertTexturePoint);
        }
        if (status == VrmlStatus::ok) status = reader.skipToList(false);
        if (status == VrmlStatus::ok) status = reader.readList(region.quads, convertQuad);
        if (status == VrmlStatus::ok) status = reader.skipToList(false);
        if (status == VrmlStatus::ok) status = reader.readList(region.textureQuads, convertQuad);
        if (status == VrmlStatus::ok && r == 0) status = readVisibility(fileFlags);
        if (status != VrmlStatus::ok) return status;
    }
    if (!regionsValid(working)) return VrmlStatus::badIndex;
    // One flag per quad of region 0; quads beyond the end of the visibility
    // file are hidden, as a missing byte means "not marked visible".
    fileFlags.resize(working[0].quads.size(), 0);
    // The tilt into model pose: rotateRegions about x by -0.4 radians.
    rotateRegions(working, kVrmlTilt, 0.0f, 0.0f);
    regions = std::move(working);
    visibleQuads = std::move(fileFlags);
    return VrmlStatus::ok;
}

TRegion compactHeadRegion(const TRegion &head, std::vector<uint8_t> visibleQuads) {
    visibleQuads.resize(head.quads.size(), 0);
    TRegion compacted;
    // The used flags of the visible quads' corners.
    std::vector<uint8_t> used(head.vertices.size(), 0);
    for (std::size_t q = 0; q < head.quads.size(); ++q)
        if (visibleQuads[q] != 0)
            for (const int32_t corner : head.quads[q]) used[static_cast<std::size_t>(corner)] = 1;
    // The used vertices numbered in increasing vertex order, each
    // with the texture coordinate of the same index.
    std::vector<int32_t> number(head.vertices.size(), -1);
    auto append = [&](std::size_t vertex) {
        number[vertex] = static_cast<int32_t>(compacted.vertices.size());
        compacted.vertices.push_back(head.vertices[vertex]);
        compacted.textureCoords.push_back(head.textureCoords[vertex]);
    };
    for (std::size_t v = 0; v < head.vertices.size(); ++v)
        if (used[v] != 0) append(v);
    // The fixed quads, in list order, made visible; their corners without a
    // number get the next ones. Fixed quads beyond the region's quads are
    // skipped, so that smaller heads import.
    for (const int32_t fixed : kVrmlFixedQuads) {
        const auto q = static_cast<std::size_t>(fixed);
        if (q >= head.quads.size()) continue;
        visibleQuads[q] = 1;
        for (const int32_t corner : head.quads[q])
            if (number[static_cast<std::size_t>(corner)] < 0) append(static_cast<std::size_t>(corner));
    }
    // Every visible quad in order, renumbered; the texture quads
    // repeat the quads.
    for (std::size_t q = 0; q < head.quads.size(); ++q) {
        if (visibleQuads[q] == 0) continue;
        Quad renumbered{};
        for (std::size_t k = 0; k < renumbered.size(); ++k)
            renumbered[k] = number[static_cast<std::size_t>(head.quads[q][k])];
        compacted.quads.push_back(renumbered);
        compacted.textureQuads.push_back(renumbered);
    }
    return compacted;
}

VrmlStatus importVrml(const std::string &path, std::vector<TRegion> &regions) {
    std::vector<TRegion> working;
    std::vector<uint8_t> visibleQuads;
    const VrmlStatus status = readVrmlHead(path, working, visibleQuads);
    if (status != VrmlStatus::ok) return status;
    // Six regions: region 0 compacted, 1 to 5 as read.
    working[0] = compactHeadRegion(working[0], std::move(visibleQuads));
    regions = std::move(working);
    return VrmlStatus::ok;
}

}  // namespace kelmo

int32_t TAVO_LoadModelVRML(const char *path, int handle) {
    kelmo::TModel *model = kelmo::resolveModel(handle);
    if (model == nullptr) return TAVO_ERR_INVALID_HANDLE;
    if (path == nullptr) return TAVO_ERR_GENERAL;
    try {
        std::vector<kelmo::TRegion> regions;
        if (kelmo::importVrml(path, regions) != kelmo::VrmlStatus::ok) return TAVO_ERR_GENERAL;
        // The commit: the target's regions become the six imported ones;
        // nothing else of the target changes, except that an appended region
        // index naming a region that no longer exists is cleared, so that no
        // later call follows it out of the model.
        model->regions = std::move(regions);
        if (model->extraRegion >= static_cast<int32_t>(kelmo::kVrmlShapeCount)) model->extraRegion = -1;
    } catch (const std::exception &) {
        return TAVO_ERR_GENERAL;  // out of memory: the target is unchanged
    }
    return TAVO_OK;
}
