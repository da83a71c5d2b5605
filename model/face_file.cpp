// Face model files: the face-format reader and writer, the landmark
// table reader and the list7 table reader.
#include "model/face_file.h"

#include <bit>
#include <cstddef>
#include <cstdio>
#include <utility>

#include "frame/file_access.h"

namespace kelmo {

namespace {

// ---- Face format: little-endian fields, decoded byte by byte so that the
// result is the same on any host. -----------------------------------------

constexpr std::size_t kFieldBytes = 4;
// Bytes per vertex: three position floats and two texture-coordinate floats.
constexpr std::size_t kVertexBytes = 5 * kFieldBytes;
// Bytes per quad: four vertex indices and four texture-coordinate indices.
constexpr std::size_t kQuadBytes = 8 * kFieldBytes;

uint32_t decodeUint32(const uint8_t *bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

int32_t decodeInt32(const uint8_t *bytes) { return std::bit_cast<int32_t>(decodeUint32(bytes)); }

float decodeFloat(const uint8_t *bytes) { return std::bit_cast<float>(decodeUint32(bytes)); }

void encodeUint32(uint32_t value, std::vector<uint8_t> &out) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 24));
}

void encodeInt32(int32_t value, std::vector<uint8_t> &out) {
    encodeUint32(std::bit_cast<uint32_t>(value), out);
}

void encodeFloat(float value, std::vector<uint8_t> &out) {
    encodeUint32(std::bit_cast<uint32_t>(value), out);
}

bool readBytes(std::FILE *file, uint8_t *destination, std::size_t count) {
    return count == 0 || std::fread(destination, 1, count, file) == count;
}

// Reads a count field (V or Q) and checks it against the format's limit of 6000;
// a negative count is malformed as well.
bool readCount(std::FILE *file, int32_t &count) {
    uint8_t bytes[kFieldBytes];
    if (!readBytes(file, bytes, kFieldBytes)) return false;
    count = decodeInt32(bytes);
    return count >= 0 && count <= kFaceFileMaxCount;
}

bool cornersBelow(const Quad &quad, std::size_t limit) {
    for (const int32_t corner : quad)
        if (corner < 0 || static_cast<std::size_t>(corner) >= limit) return false;
    return true;
}

// The invariant of every region that rendering relies on: every quad corner below
// the vertex count, every texture quad corner below the texture coordinate
// count, one texture quad per quad.
bool regionIndicesValid(const TRegion &region) {
    if (region.textureQuads.size() != region.quads.size()) return false;
    for (const Quad &quad : region.quads)
        if (!cornersBelow(quad, region.vertices.size())) return false;
    for (const Quad &quad : region.textureQuads)
        if (!cornersBelow(quad, region.textureCoords.size())) return false;
    return true;
}

// One region: V, 3V position floats, 2V
// texture-coordinate floats, Q, 4Q quad corners, 4Q texture quad corners.
bool readRegion(std::FILE *file, TRegion &region) {
    int32_t vertexCount = 0;
    if (!readCount(file, vertexCount)) return false;
    const auto vertices = static_cast<std::size_t>(vertexCount);
    std::vector<uint8_t> bytes(vertices * kVertexBytes);
    if (!readBytes(file, bytes.data(), bytes.size())) return false;
    region.vertices.resize(vertices);
    region.textureCoords.resize(vertices);
    const uint8_t *cursor = bytes.data();
    for (TVector3f &position : region.vertices) {
        position.x = decodeFloat(cursor);
        position.y = decodeFloat(cursor + 4);
        position.z = decodeFloat(cursor + 8);
        cursor += 3 * kFieldBytes;
    }
    for (TPointf &coordinate : region.textureCoords) {
        coordinate.x = decodeFloat(cursor);
        coordinate.y = decodeFloat(cursor + 4);
        cursor += 2 * kFieldBytes;
    }

    int32_t quadCount = 0;
    if (!readCount(file, quadCount)) return false;
    const auto quads = static_cast<std::size_t>(quadCount);
    bytes.assign(quads * kQuadBytes, 0);
    if (!readBytes(file, bytes.data(), bytes.size())) return false;
    region.quads.resize(quads);
    region.textureQuads.resize(quads);
    cursor = bytes.data();
    for (std::vector<Quad> *target : {&region.quads, &region.textureQuads}) {
        for (Quad &quad : *target) {
            for (int32_t &corner : quad) {
                corner = decodeInt32(cursor);
                cursor += kFieldBytes;
            }
        }
    }
    return regionIndicesValid(region);
}

bool regionWritable(const TRegion &region) {
    return region.vertices.size() <= static_cast<std::size_t>(kFaceFileMaxCount) &&
           region.quads.size() <= static_cast<std::size_t>(kFaceFileMaxCount) &&
           region.textureCoords.size() == region.vertices.size() && regionIndicesValid(region);
}

void encodeRegion(const TRegion &region, std::vector<uint8_t> &out) {
    encodeInt32(static_cast<int32_t>(region.vertices.size()), out);
    for (const TVector3f &position : region.vertices) {
        encodeFloat(position.x, out);
        encodeFloat(position.y, out);
        encodeFloat(position.z, out);
    }
    for (const TPointf &coordinate : region.textureCoords) {
        encodeFloat(coordinate.x, out);
        encodeFloat(coordinate.y, out);
    }
    encodeInt32(static_cast<int32_t>(region.quads.size()), out);
    for (const std::vector<Quad> *source : {&region.quads, &region.textureQuads})
        for (const Quad &quad : *source)
            for (const int32_t corner : quad) encodeInt32(corner, out);
}

// ---- Text tables: the "%i" conversion of the C library. ------------------

bool isScanfSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int digitValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;  // above every base
}

// One "%i" conversion, done by hand so that it is strict where fscanf is
// undefined: leading white space is skipped; an optional sign; then "0x" or
// "0X" and hexadecimal digits, or "0" and octal digits, or decimal digits. As
// with fscanf the number ends at the first character that cannot continue it,
// and that character is left in the stream ("08" reads 0, then 8). Returns
// false when no number is there, when "0x" has no hexadecimal digit after it,
// or when the value does not fit a signed 32-bit integer.
bool readScanfInteger(std::FILE *file, int32_t &value) {
    int c = std::getc(file);
    while (isScanfSpace(c)) c = std::getc(file);
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = (c == '-');
        c = std::getc(file);
    }
    int base = 10;
    int64_t magnitude = 0;
    if (c == '0') {
        c = std::getc(file);
        if (c == 'x' || c == 'X') {
            base = 16;
            c = std::getc(file);
            if (digitValue(c) >= base) return false;
        } else {
            base = 8;  // the leading 0 is itself an octal digit of value 0
        }
    } else if (digitValue(c) >= 10) {
        return false;
    }
    const int64_t limit = negative ? int64_t{1} << 31 : (int64_t{1} << 31) - 1;
    while (digitValue(c) < base) {
        magnitude = magnitude * base + digitValue(c);
        if (magnitude > limit) return false;
        c = std::getc(file);
    }
    if (c != EOF) std::ungetc(c, file);
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

}  // namespace

int32_t readFaceFile(TModel &model, const std::string &path) {
    FilePtr file = openFile(path, "rb");
    if (!file) return kFaceFileCannotOpen;
    // Into temporaries: the five regions are committed only when all of them
    // were read and found valid. Buffers are sized per region from the
    // checked counts.
    std::vector<TRegion> regions(kFaceFileRegionCount);
    for (TRegion &region : regions)
        if (!readRegion(file.get(), region)) return kFaceFileMalformed;
    // Bytes after region 4 are ignored: the format ends with its five
    // regions, and files with trailing bytes have always been accepted.
    //
    // Commit. TRegion holds only the four arrays that the reader fills, so
    // replacing the regions whole sets the count to five and every region's
    // arrays at once, without a throwing step.
    model.regions = std::move(regions);
    return kFaceFileOk;
}

int32_t writeFaceFile(const std::vector<TRegion> &regions, const std::string &path) {
    if (regions.size() < static_cast<std::size_t>(kFaceFileRegionCount)) return kFaceFileMalformed;
    std::vector<uint8_t> bytes;
    for (int index = 0; index < kFaceFileRegionCount; ++index) {
        const TRegion &region = regions[static_cast<std::size_t>(index)];
        if (!regionWritable(region)) return kFaceFileMalformed;
        encodeRegion(region, bytes);
    }
    FilePtr file = openFile(path, "wb");
    if (!file) return kFaceFileCannotOpen;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    const bool closed = std::fclose(file.release()) == 0;
    if (!written || !closed) {
        removeFile(path);
        return kFaceFileWriteFailed;
    }
    return kFaceFileOk;
}

int32_t readLandmarkTable(std::vector<int32_t> &table, const std::string &path) {
    FilePtr file = openFile(path, "r");
    if (!file) return kFaceFileCannotOpen;
    // On a copy: 66 entries, existing ones keep their values.
    std::vector<int32_t> updated = table;
    updated.resize(kLandmarkPairCount, 0);
    // 66 pairs (feature point, vertex); a feature point beyond the table
    // lengthens it with zeros.
    for (int pair = 0; pair < kLandmarkPairCount; ++pair) {
        int32_t featurePoint = 0;
        int32_t vertex = 0;
        if (!readScanfInteger(file.get(), featurePoint) || !readScanfInteger(file.get(), vertex))
            return kFaceFileMalformed;
        if (featurePoint < 0 || featurePoint > kLandmarkMaxIndex) return kFaceFileMalformed;
        const auto index = static_cast<std::size_t>(featurePoint);
        if (index >= updated.size()) updated.resize(index + 1, 0);
        updated[index] = vertex;
    }
    table = std::move(updated);
    return kFaceFileOk;
}

int32_t readList7Table(std::vector<int32_t> &table, const std::string &path) {
    // Open as text; 38 entries, each read with "%i".
    FilePtr file = openFile(path, "r");
    if (!file) return kFaceFileCannotOpen;
    std::vector<int32_t> values(kList7Count, 0);
    for (int32_t &value : values)
        if (!readScanfInteger(file.get(), value)) return kFaceFileMalformed;
    table = std::move(values);
    return kFaceFileOk;
}

}  // namespace kelmo
