// The warp's square-root table "sqrt.dat" (2^21 little-endian floats). A
// short file keeps the table; a long one with any bytes (NaN, infinities,
// negative roots) in it replaces it, and a warp through that table still only
// reads inside its images. The first input byte chooses: even, the rest of the
// input is the whole file; odd, bytes 1 to 3 place the rest of the input over
// a valid table.
#include <cmath>
#include <cstring>
#include <vector>

#include "frame/library_state.h"
#include "fuzz/fuzz_support.h"
#include "kelmo.h"

namespace {

constexpr std::size_t kTableBytes = std::size_t{4} << 21;

std::vector<uint8_t> validTable() {
    std::vector<uint8_t> bytes(kTableBytes);
    for (std::size_t i = 0; i < kTableBytes / 4; ++i) {
        const float root = std::sqrt(static_cast<float>(i));
        uint32_t bits = 0;
        std::memcpy(&bits, &root, 4);
        for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<uint8_t>(bits >> (8 * b));
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static kelmo::fuzz::MemoryFile file;
    static const std::vector<uint8_t> valid = validTable();
    static const std::string directory = [] {
        kelmo::fuzz::linkTo(file.path(), kelmo::fuzz::scratchDirectory() + "/sqrt/sqrt.dat");
        return kelmo::fuzz::scratchDirectory() + "/sqrt/";
    }();
    if (size == 0) return 0;
    std::vector<float> &table = kelmo::libraryState().sqrtTable;
    const bool isLong = (data[0] & 1) != 0;
    if (!isLong) {
        file.assign(data + 1, size - 1);
        const std::vector<float> before = table;
        FUZZ_CHECK(TAVO_InitRBF(directory.c_str()) == 0);
        FUZZ_CHECK(size - 1 >= kTableBytes || std::memcmp(table.data(), before.data(), kTableBytes) == 0);
    } else {
        if (size < 4) return 0;
        const std::size_t offset = (data[1] | data[2] << 8 | data[3] << 16) * std::size_t{32} % kTableBytes;
        file.assign(valid.data(), valid.size());
        file.write(offset, data + 4, size - 4);
        FUZZ_CHECK(TAVO_InitRBF(directory.c_str()) == 0);
        FUZZ_CHECK(std::memcmp(table.data(), valid.data(), std::min(offset, kTableBytes)) == 0);
    }
    // A small warp through whatever the table now holds.
    std::vector<uint8_t> pixels(24 * 20 * 3);
    for (std::size_t k = 0; k < pixels.size(); ++k) pixels[k] = static_cast<uint8_t>(k * 7);
    ImageHandle source = -1, target = -1;
    FUZZ_CHECK(TAVO_LoadImageFromBuffer(&source, pixels.data(), 24, 20, 72, TAVO_IMAGEMODE_COLOR) == 0);
    FUZZ_CHECK(TAVO_CreateEmptyImage(&target) == 0);
    const int32_t from[6] = {5, 5, 18, 6, 12, 15}, to[6] = {6, 4, 17, 8, 11, 13};
    FUZZ_CHECK(TAVO_WarpImageRBF(source, target, from, to, 3, TAVO_IMAGEMODE_COLOR) == 0);
    TAVO_FreeImage(source), TAVO_FreeImage(target);
    return 0;
}
