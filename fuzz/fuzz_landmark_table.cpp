// "grd66.txt", the feature point of each landmark: a file either gives a
// table of at least 66 entries within the index limit, or leaves it alone.
#include "fuzz/fuzz_support.h"
#include "model/face_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static kelmo::fuzz::MemoryFile file;
    file.assign(data, size);
    std::vector<int32_t> table{7, 8, 9};
    const int32_t status = kelmo::readLandmarkTable(table, file.path());
    if (status != kelmo::kFaceFileOk) {
        FUZZ_CHECK(status == kelmo::kFaceFileMalformed && table == (std::vector<int32_t>{7, 8, 9}));
        return 0;
    }
    FUZZ_CHECK(table.size() >= kelmo::kLandmarkPairCount && table.size() <= kelmo::kLandmarkMaxIndex + 1u);
    return 0;
}
