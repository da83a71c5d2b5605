// "list7.txt", the lip ring: 38 vertex indices, or the table left alone.
#include "fuzz/fuzz_support.h"
#include "model/face_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static kelmo::fuzz::MemoryFile file;
    file.assign(data, size);
    std::vector<int32_t> table{7, 8, 9};
    const int32_t status = kelmo::readList7Table(table, file.path());
    if (status != kelmo::kFaceFileOk)
        FUZZ_CHECK(status == kelmo::kFaceFileMalformed && table == (std::vector<int32_t>{7, 8, 9}));
    else
        FUZZ_CHECK(table.size() == kelmo::kList7Count);
    return 0;
}
