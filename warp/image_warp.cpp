// The image warp: the square-root table, TAVO_WarpImageRBF and the
// TAVO_MorphImageRB placeholder.
#include "warp/image_warp.h"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "frame/contiguous_shares.h"
#include "frame/file_access.h"
#include "frame/library_state.h"
#include "frame/resampling.h"
#include "warp/displacement_lanes.h"
#include "kelmo.h"
#include "tavoimage.h"

namespace kelmo {

namespace {

// Images of at least this many pixels are warped on several threads; below,
// starting them costs more than they save.
constexpr std::size_t kParallelWarpPixels = std::size_t{1} << 18;

// Rows resampled together: the maps' and the output's rows of a band stay in
// the cache between the passes over them.
constexpr int32_t kWarpBandRows = 8;

// Each thread's band of output rows starts on its own cache line.
std::size_t roundUpToCacheLine(std::size_t bytes) { return (bytes + 63) & ~std::size_t{63}; }

// An image of the imaging library that this unit created, freed with the
// scope: every temporary image is freed before the warp returns.
class OwnedImage {
public:
    OwnedImage() = default;
    OwnedImage(const OwnedImage &) = delete;
    OwnedImage &operator=(const OwnedImage &) = delete;
    ~OwnedImage() {
        if (handle != -1) {
            TAVO_FreeImage(handle);
        }
    }
    ImageHandle handle = -1;
};

// Reads "sqrt.dat" into a new table; empty when the file cannot be opened or
// is shorter than the table (only the first 8,388,608 bytes count).
std::vector<float> readSqrtFile(const std::string &path) {
    const FilePtr file = openFile(path, "rb");
    if (!file) {
        return {};
    }
    std::vector<unsigned char> bytes(kSqrtFileBytes);
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
        return {};
    }
    return decodeSqrtTable(bytes);
}

// Bytes per pixel of TAVO_IMAGEMODE 0, 1 and 2; 0 for any
// other mode.
int32_t channelsOfMode(int32_t mode) {
    switch (mode) {
    case TAVO_IMAGEMODE_GREY:
        return 1;
    case TAVO_IMAGEMODE_COLOR:
        return 3;
    case TAVO_IMAGEMODE_COLOR_ALPHA:
        return 4;
    default:
        return 0;
    }
}

// Warps of images up to this many pixels keep their working memory for the
// next call (about 6 MB at 1024 x 1024 in RGBA): fresh buffers of that size
// cost more in page faults than the remap that fills them. Larger images
// take fresh memory, returned when the call ends.
constexpr std::size_t kKeptWarpPixels = std::size_t{1} << 21;

// The warp's working memory: the half-size maps, each thread's band of
// full-size maps, its scratch for the enlargement and its band of output
// rows, and the captured source. Nothing in them needs clearing between
// calls: every entry is written before it is read.
struct WarpBuffers {
    std::unique_ptr<float[]> halfX, halfY, bandX, bandY;
    std::unique_ptr<double[]> scratch;
    std::unique_ptr<uint8_t[]> captured, bandOutput;
    std::size_t cellCapacity = 0;
    std::size_t bandCapacity = 0;
    std::size_t scratchCapacity = 0;
    std::size_t byteCapacity = 0;
    std::size_t bandByteCapacity = 0;

    // Grows each buffer that is too small. May throw std::bad_alloc; the
    // capacities then still describe what is held.
    void reserve(std::size_t cells, std::size_t bandValues, std::size_t scratchValues, std::size_t bytes,
                 std::size_t bandBytes) {
        if (cells > cellCapacity) {
            cellCapacity = 0;
            halfX = std::make_unique_for_overwrite<float[]>(cells);
            halfY = std::make_unique_for_overwrite<float[]>(cells);
            cellCapacity = cells;
        }
        if (bandValues > bandCapacity) {
            bandCapacity = 0;
            bandX = std::make_unique_for_overwrite<float[]>(bandValues);
            bandY = std::make_unique_for_overwrite<float[]>(bandValues);
            bandCapacity = bandValues;
        }
        if (scratchValues > scratchCapacity) {
            scratchCapacity = 0;
            scratch = std::make_unique_for_overwrite<double[]>(scratchValues);
            scratchCapacity = scratchValues;
        }
        if (bytes > byteCapacity) {
            byteCapacity = 0;
            captured = std::make_unique_for_overwrite<uint8_t[]>(bytes);
            byteCapacity = bytes;
        }
        if (bandBytes > bandByteCapacity) {
            bandByteCapacity = 0;
            bandOutput = std::make_unique_for_overwrite<uint8_t[]>(bandBytes);
            bandByteCapacity = bandBytes;
        }
    }
};

int32_t warpImage(ImageHandle source, ImageHandle destination, const int32_t *sourcePoints,
                  const int32_t *destinationPoints, int32_t count, int32_t mode) {
    // The validation of the contract in include/kelmo.h, all before anything
    // is created or changed.
    if (count < 0 || count > kMaxWarpPointCount) {
        return TAVO_ERR_GENERAL;
    }
    if (count > 0 && (sourcePoints == nullptr || destinationPoints == nullptr)) {
        return TAVO_ERR_GENERAL;
    }
    int32_t width = 0;
    int32_t height = 0;
    int32_t destinationWidth = 0;
    if (TAVO_GetImageWidth(source, &width) != TAVOIMG_OK || TAVO_GetImageHeight(source, &height) != TAVOIMG_OK ||
        TAVO_GetImageWidth(destination, &destinationWidth) != TAVOIMG_OK) {
        return TAVO_ERR_GENERAL;
    }
    // The bound that keeps every squared distance between two pixels
    // of the image inside the square-root table; equality passes.
    const int64_t squaredDiagonal = static_cast<int64_t>(width) * width + static_cast<int64_t>(height) * height;
    if (squaredDiagonal > kMaxWarpSquaredDiagonal) {
        return TAVO_ERR_GENERAL;
    }
    // A source one pixel wide or high has a half size of 0 while its full
    // size is not: there is no map to enlarge, so it is rejected.
    if (width == 1 || height == 1) {
        return TAVO_ERR_GENERAL;
    }
    // An unknown mode resamples nothing and leaves the
    // destination as it was; the result is 0. Skipping the work is
    // indistinguishable from doing it and throwing it away.
    const int32_t channels = channelsOfMode(mode);
    if (channels == 0) {
        return 0;
    }
    // When W x H is 0 the destination receives an empty image; there is
    // nothing to compute on an empty grid.
    if (width == 0 || height == 0) {
        OwnedImage empty;
        TAVO_CreateEmptyImage(&empty.handle);
        TAVO_CopyImage(empty.handle, destination);
        return 0;
    }

    // The displacement field: the caller's points and the pinned corners.
    TInterpolator interpolator = makeWarpInterpolator(width, height, sourcePoints, destinationPoints, count);

    // Nothing inside the parallel regions allocates or throws, except the
    // solve, whose failure is carried out of its region and rethrown. Every
    // entry of the half-size maps, the bands and the captured source is
    // written before it is read, so none of them is filled first: the
    // enlargement writes trunc(w * (W / w) + 1e-7) = W columns and H rows
    // (the product is W within a rounding error far below the bias).
    const std::size_t pixelCount = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const std::size_t byteCount = pixelCount * static_cast<std::size_t>(channels);
    const int32_t halfWidth = width / 2;
    const int32_t halfHeight = height / 2;
    const std::size_t cellCount = static_cast<std::size_t>(halfWidth) * static_cast<std::size_t>(halfHeight);
    // Threads only for an image worth them; every stage gives the same bits
    // on any number of threads, each value depending on its own position only.
    const int threads = pixelCount >= kParallelWarpPixels ? std::max(1, omp_get_max_threads()) : 1;
    const int32_t rowBytes = width * channels;
    const std::size_t bandValues = static_cast<std::size_t>(kWarpBandRows) * static_cast<std::size_t>(width);
    const std::size_t bandBytes = roundUpToCacheLine(static_cast<std::size_t>(kWarpBandRows) *
                                                     static_cast<std::size_t>(rowBytes));
    const std::size_t scratchValues = 2 * static_cast<std::size_t>(width);
    static WarpBuffers kept;
    WarpBuffers fresh;
    WarpBuffers &buffers = pixelCount <= kKeptWarpPixels ? kept : fresh;
    const auto perThread = static_cast<std::size_t>(threads);
    buffers.reserve(cellCount, perThread * bandValues, perThread * scratchValues, byteCount, perThread * bandBytes);
    float *const halfX = buffers.halfX.get();
    float *const halfY = buffers.halfY.get();
    uint8_t *const captured = buffers.captured.get();
    // The column of each pixel as a float, added to the x map row by row.
    std::vector<float> columns(static_cast<std::size_t>(width));
    for (int32_t i = 0; i < width; ++i) columns[static_cast<std::size_t>(i)] = static_cast<float>(i);
    // The source is captured in the same bands of rows as it is later
    // resampled, in the same contiguous shares, so that each thread mostly
    // reads source rows that it wrote itself and holds in its caches (a share
    // captured by the other thread made the remap a fifth slower).
    const int32_t bandCount = (height + kWarpBandRows - 1) / kWarpBandRows;
    ContiguousShares fieldShares(halfHeight, threads);
    ContiguousShares bandShares(bandCount, threads);
    std::atomic<bool> captureFailed{false};
    std::exception_ptr solveFailure;

    // The solve, on the first thread, while the others capture their shares
    // of the source; the first captures its own share after the solve (a
    // share captured by another thread would cost its remap more than the
    // wait). Capturing before the destination is written lets source and
    // destination be the same image.
#pragma omp parallel num_threads(threads)
    {
        const int thread = omp_get_thread_num();
        if (thread == 0) {
            try {
                interpolator.solve();
            } catch (...) {
                solveFailure = std::current_exception();
            }
        }
        // The rows of the thread's share of the bands (as ContiguousShares
        // hands them out), over the threads actually started.
        const int team = omp_get_num_threads();
        const auto firstRow = static_cast<int32_t>(int64_t{bandCount} * thread / team) * kWarpBandRows;
        const int32_t endRow =
            std::min(height, static_cast<int32_t>(int64_t{bandCount} * (thread + 1) / team) * kWarpBandRows);
        if (firstRow < endRow &&
            TAVO_SaveImageRowsToBuffer(source, firstRow, endRow - firstRow,
                                       captured + static_cast<std::size_t>(firstRow) * static_cast<std::size_t>(rowBytes),
                                       static_cast<TAVO_IMAGEMODE>(mode)) != TAVOIMG_OK) {
            captureFailed.store(true, std::memory_order_relaxed);
        }
    }
    if (solveFailure) std::rethrow_exception(solveFailure);
    if (captureFailed.load(std::memory_order_relaxed)) {
        // Only a fault inside the library could get here (the handle and
        // mode were checked); the destination is untouched.
        return TAVO_ERR_GENERAL;
    }

    const HalfSizeField field(interpolator, width, height, libraryState().sqrtTable,
                              std::span(halfX, cellCount), std::span(halfY, cellCount), threads,
                              libraryState().sqrtTableHoldsRoots);
    // The two enlargements, bilinear with factors W / w and H / h in double
    // precision, prepared here (their taps reach every destination row
    // through the corner-aligned positions of the whole map) and written
    // band by band below, where each band's rows are used at once.
    const double xFactor = static_cast<double>(width) / halfWidth;
    const double yFactor = static_cast<double>(height) / halfHeight;
    const BandedMapResize enlargeX(halfX, halfWidth, halfHeight, 4 * halfWidth, width, height, xFactor, yFactor);
    const BandedMapResize enlargeY(halfY, halfWidth, halfHeight, 4 * halfWidth, width, height, xFactor, yFactor);
    assert(enlargeX.writtenWidth() == width && enlargeX.writtenHeight() == height);
    assert(enlargeX.scratchSize() <= scratchValues);

    // The destination takes the result's size and layout now (a no-op when
    // it has them, as from the previous warp), so that the bands can write
    // their rows straight into it. Nothing below can fail: a failure here
    // (memory) is the last point at which the destination is untouched.
    if (TAVO_ReshapeImage(destination, width, height, static_cast<TAVO_IMAGEMODE>(mode)) != TAVOIMG_OK) {
        return TAVO_ERR_GENERAL;
    }

#pragma omp parallel num_threads(threads)
    {
        const int thread = omp_get_thread_num();
        // The half-size field, after the grid of distances that its rows
        // read when there is one. Its rows go in contiguous shares like the
        // bands', so that the rows each band enlarges were mostly written by
        // the same thread.
        if (field.gridRowCount() > 0) {
#pragma omp for schedule(dynamic, 16)
            for (int32_t b = 0; b < field.gridRowCount(); ++b) field.buildGridRow(b);
        }
        for (int32_t j = fieldShares.take(thread); j >= 0; j = fieldShares.take(thread)) field.evaluateRow(j, thread);
#pragma omp barrier

        // Bands of rows, each finished while its rows are in the cache: the
        // maps' rows enlarged into the thread's own band, displacements made
        // source positions, the rows resampled into the thread's own output
        // band and written into the destination. Each thread works down its
        // own contiguous share of the bands, so the source rows that
        // neighbouring bands share stay in its caches, and helps with the
        // others' shares when done (a thread on a busier core is not waited
        // for; nor is a thread that OpenMP did not start).
        // (A position that is not a number, possible only when hostile
        // points far off the image make the solve blow up, or one outside
        // the source, leaves its pixel 0.)
        const auto slot = static_cast<std::size_t>(thread);
        float *const xBand = buffers.bandX.get() + slot * bandValues;
        float *const yBand = buffers.bandY.get() + slot * bandValues;
        double *const scratch = buffers.scratch.get() + slot * scratchValues;
        uint8_t *const outputRows = buffers.bandOutput.get() + slot * bandBytes;
        for (int32_t band = bandShares.take(thread); band >= 0; band = bandShares.take(thread)) {
            const int32_t first = band * kWarpBandRows;
            const int32_t rows = std::min(kWarpBandRows, height - first);
            enlargeX.writeRows(first, rows, xBand, 4 * width, scratch);
            enlargeY.writeRows(first, rows, yBand, 4 * width, scratch);
            for (int32_t r = 0; r < rows; ++r) {
                float *xRow = xBand + static_cast<std::size_t>(r) * static_cast<std::size_t>(width);
                float *yRow = yBand + static_cast<std::size_t>(r) * static_cast<std::size_t>(width);
                const auto row = static_cast<float>(first + r);
                for (int32_t i = 0; i < width; ++i) {
                    xRow[i] += columns[static_cast<std::size_t>(i)];
                    yRow[i] += row;
                }
            }
            std::memset(outputRows, 0, static_cast<std::size_t>(rows) * static_cast<std::size_t>(rowBytes));
            [[maybe_unused]] const int32_t status =
                remap(channels, captured, width, height, rowBytes, IntRect{0, 0, width, height}, xBand, 4 * width,
                      yBand, 4 * width, outputRows, rowBytes, width, rows, kInterpolationBilinear);
            assert(status == kResampleOk);
            // The destination was given this size and layout above; rows of
            // distinct bands do not overlap.
            [[maybe_unused]] const int32_t written = TAVO_WriteImageRows(destination, first, rows, outputRows, rowBytes,
                                                                         static_cast<TAVO_IMAGEMODE>(mode));
            assert(written == TAVOIMG_OK);
        }
    }
    // The maps and buffers go with the scope.
    return 0;
}

}  // namespace

std::vector<float> decodeSqrtTable(std::span<const unsigned char> bytes) {
    assert(bytes.size() >= kSqrtFileBytes);
    std::vector<float> table(kSqrtTableEntries);
    for (std::size_t i = 0; i < kSqrtTableEntries; ++i) {
        // The table file: little-endian IEEE floats, decoded byte by
        // byte so that the host's byte order does not matter.
        const unsigned char *entry = bytes.data() + 4 * i;
        const uint32_t bits = static_cast<uint32_t>(entry[0]) | (static_cast<uint32_t>(entry[1]) << 8) |
                              (static_cast<uint32_t>(entry[2]) << 16) | (static_cast<uint32_t>(entry[3]) << 24);
        float value = 0.0f;
        std::memcpy(&value, &bits, sizeof value);
        table[i] = value;
    }
    return table;
}

TInterpolator makeWarpInterpolator(int32_t width, int32_t height, const int32_t *sourcePoints,
                                   const int32_t *destinationPoints, int32_t count) {
    TInterpolator interpolator;
    // A control point at each destination point, valued source minus
    // destination; the differences are taken in integers (64 bits, so that no
    // pair of 32-bit points can overflow) and then converted.
    for (int32_t k = 0; k < count; ++k) {
        const int64_t sourceX = sourcePoints[2 * k];
        const int64_t sourceY = sourcePoints[2 * k + 1];
        const int64_t destinationX = destinationPoints[2 * k];
        const int64_t destinationY = destinationPoints[2 * k + 1];
        interpolator.addControlPoint(static_cast<float>(destinationX), static_cast<float>(destinationY),
                                     static_cast<float>(sourceX - destinationX),
                                     static_cast<float>(sourceY - destinationY));
    }
    // The four corners, pinned so that the image's frame stays in place, after the caller's points (so a corner
    // that coincides with a caller's point is the one that moves).
    const auto right = static_cast<float>(width - 1);
    const auto bottom = static_cast<float>(height - 1);
    interpolator.addControlPoint(0.0f, 0.0f, 0.0f, 0.0f);
    interpolator.addControlPoint(right, 0.0f, 0.0f, 0.0f);
    interpolator.addControlPoint(0.0f, bottom, 0.0f, 0.0f);
    interpolator.addControlPoint(right, bottom, 0.0f, 0.0f);
    return interpolator;
}

}  // namespace kelmo

// Loading the table: directory + "sqrt.dat" (no separator added),
// 8,388,608 bytes read into a temporary and committed only when all arrived;
// a missing or short file, or a failed allocation, leaves the table as it was.
int32_t TAVO_InitRBF(const char *directory) {
    if (directory == nullptr) {
        return 0;
    }
    try {
        std::vector<float> table = kelmo::readSqrtFile(std::string(directory) + "sqrt.dat");
        if (!table.empty()) {
            const bool holdsRoots = kelmo::tableHoldsSquareRoots(kelmo::kernelLevel(), table.data(), 0, table.size());
            kelmo::LibraryState &state = kelmo::libraryState();
            state.sqrtTable = std::move(table);
            state.sqrtTableHoldsRoots = holdsRoots;
        }
    } catch (...) {
        // std::bad_alloc: the table keeps its content; the result is still 0.
    }
    return 0;
}

// Contract in include/kelmo.h.
int32_t TAVO_WarpImageRBF(ImageHandle source, ImageHandle destination, const int32_t *sourcePoints,
                          const int32_t *destinationPoints, int32_t count, TAVO_IMAGEMODE mode) {
    try {
        return kelmo::warpImage(source, destination, sourcePoints, destinationPoints, count,
                                static_cast<int32_t>(mode));
    } catch (...) {
        // std::bad_alloc and the like: thrown before the result is copied
        // into the destination, so nothing has changed.
        return TAVO_ERR_GENERAL;
    }
}

// Kept so that hosts which call it link and run; reads none of its arguments.
int32_t TAVO_MorphImageRB(unsigned int, unsigned int, TPointf *, TPointf *, int, TAVO_IMAGEMODE, float, float,
                          int) {
    return 0;
}
