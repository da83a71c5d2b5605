// Benchmarks of projection and rendering on the synthetic head of the
// rendering tests (about 2,950 quads, almost all in region 0, a 256 x 256
// texture; about 112,000 pixels drawn at 1024 x 1024):
//   BM_RenderModelToImage/N/T/L: TAVO_RenderModelToImage at N x N on T
//     OpenMP threads at kernel level L (0: the whole-buffer reference order,
//     3 or the widest the CPU has: bands), wall-clock time.
//   BM_ProjectModelVertices: TAVO_ProjectModelVertices of region 0.
//   BM_LlvmpipeRender/N/T: the same mesh and texture (regions 0 to 5 and the
//     mouth cavity, bilinear texture, depth test) drawn by Mesa's llvmpipe
//     through OSMesa at N x N, with LP_NUM_THREADS=1 (T = 1) or llvmpipe's
//     default thread count (T = 0). Mesa reads LP_NUM_THREADS once per
//     process, so each setting runs in a child process forked before any GL
//     call; the child times each frame (glClear to glFinish, wall clock) and
//     the parent reports that time.
#include <GL/gl.h>
#include <GL/osmesa.h>
#include <benchmark/benchmark.h>
#include <omp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "frame/kernel_level.h"
#include "frame/library_state.h"
#include "kelmo.h"
#include "model/model_table.h"
#include "render/camera.h"
#include "render/texture_accessors.h"
#include "tests/render/synthetic_head.h"

namespace {

using kelmo::render_test::SyntheticHead;

// The synthetic head as a model of the library, made once.
struct HeadModel {
    HeadModel() : head(kelmo::render_test::makeSyntheticHead()) {
        kelmo::libraryState().list7Table = head.list7;
        TAVO_InitModel(&handle, 1);
        kelmo::TModel *model = kelmo::resolveModel(handle);
        model->regions = head.regions;
        const ImageHandle texture = kelmo::render_test::makeImageHandle(head.texture);
        TAVO_SetModelTexture(handle, texture);
        TAVO_FreeImage(texture);
        model->sockImage = kelmo::render_test::makeImageHandle(head.sock);
        model->upperTeethImage = kelmo::render_test::makeImageHandle(head.upperTeeth);
        model->lowerTeethImage = kelmo::render_test::makeImageHandle(head.lowerTeeth);
        TAVO_CreateEmptyImage(&output);
        // One render builds the mouth cavity (region 7) for the GL mesh too.
        TAVO_BeginRendering(64, 64);
        TAVO_RenderModelToImage(handle, output);
    }
    SyntheticHead head;
    int32_t handle = -1;
    ImageHandle output = -1;
};

HeadModel &headModel() {
    static HeadModel *const model = new HeadModel;  // never destroyed: the library state outlives it
    return *model;
}

void BM_RenderModelToImage(benchmark::State &state) {
    HeadModel &head = headModel();
    const auto side = static_cast<int32_t>(state.range(0));
    const int savedThreads = omp_get_max_threads();
    omp_set_num_threads(static_cast<int>(state.range(1)));
    kelmo::setKernelLevel(static_cast<kelmo::KernelLevel>(state.range(2)));
    TAVO_BeginRendering(side, side);
    for (auto _ : state) {
        benchmark::DoNotOptimize(TAVO_RenderModelToImage(head.handle, head.output));
    }
    state.SetItemsProcessed(state.iterations());
    kelmo::setKernelLevel(kelmo::bestKernelLevel());
    omp_set_num_threads(savedThreads);
}
BENCHMARK(BM_RenderModelToImage)
    ->ArgNames({"side", "threads", "level"})
    ->Args({256, 1, 3})
    ->Args({512, 1, 3})
    ->ArgsProduct({{1024}, {1, 2}, {0, 3}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ProjectModelVertices(benchmark::State &state) {
    HeadModel &head = headModel();
    TAVO_BeginRendering(512, 512);
    TAVO_SetPerspective(10.0f);
    int32_t count = 0;
    TAVO_GetModelNumVertices(head.handle, 0, &count);
    std::vector<int32_t> points(2 * static_cast<std::size_t>(count));
    for (auto _ : state) {
        benchmark::DoNotOptimize(TAVO_ProjectModelVertices(head.handle, 0, points.data()));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * count);
    TAVO_SetPerspective(1.0f);
}
BENCHMARK(BM_ProjectModelVertices)->Unit(benchmark::kMicrosecond);

// ---- llvmpipe -------------------------------------------------------------------

// The mesh as GL draws it: two triangles per quad, model-space positions and
// texture coordinates from the per-vertex table (vertexTextureTable).
struct GlMesh {
    std::vector<float> positions;
    std::vector<float> coordinates;
    kelmo::Matrix4 view{};
    kelmo::Matrix4 projection{};
};

GlMesh makeGlMesh() {
    HeadModel &head = headModel();
    const kelmo::TModel *model = kelmo::resolveModel(head.handle);
    GlMesh mesh;
    for (std::size_t r : {7, 0, 1, 2, 5, 3, 4}) {
        const kelmo::TRegion &region = model->regions[r];
        const std::vector<TPointf> table = kelmo::vertexTextureTable(region);
        for (std::size_t q = 0; q < region.quads.size(); ++q) {
            const kelmo::Quad &quad = region.quads[q];
            for (int corner : {0, 1, 2, 2, 3, 0}) {
                const auto index = static_cast<std::size_t>(quad[static_cast<std::size_t>(corner)]);
                const TVector3f &v = region.vertices[index];
                mesh.positions.insert(mesh.positions.end(), {v.x, v.y, v.z});
                mesh.coordinates.insert(mesh.coordinates.end(), {table[index].x, table[index].y});
            }
        }
    }
    mesh.view = kelmo::viewMatrix(*model, kelmo::cameraDistanceOf(1.0f));
    mesh.projection = kelmo::projectionMatrix(1.0f);
    return mesh;
}

// Runs in the child: renders frames on request until told to stop.
[[noreturn]] void llvmpipeWorker(int requests, int replies, bool singleThread, const GlMesh &mesh,
                                 const kelmo::render_test::RgbaImage &texture) {
    if (singleThread) {
        setenv("LP_NUM_THREADS", "1", 1);
    } else {
        unsetenv("LP_NUM_THREADS");
    }
    setenv("GALLIUM_DRIVER", "llvmpipe", 1);
    OSMesaContext context = OSMesaCreateContextExt(OSMESA_RGBA, 24, 0, 0, nullptr);
    std::vector<uint8_t> buffer(1024 * 1024 * 4);
    int32_t side = 0;
    while (read(requests, &side, sizeof side) == sizeof side && side > 0) {
        double seconds = -1.0;
        if (context != nullptr && side <= 1024 &&
            OSMesaMakeCurrent(context, buffer.data(), GL_UNSIGNED_BYTE, side, side)) {
            static GLuint name = 0;
            if (name == 0) {
                glGenTextures(1, &name);
                glBindTexture(GL_TEXTURE_2D, name);
                glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
                glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
                glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
                glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
                glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, texture.width, texture.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                             texture.pixels.data());
                glEnable(GL_TEXTURE_2D);
                glEnable(GL_DEPTH_TEST);
                glEnableClientState(GL_VERTEX_ARRAY);
                glEnableClientState(GL_TEXTURE_COORD_ARRAY);
                glVertexPointer(3, GL_FLOAT, 0, mesh.positions.data());
                glTexCoordPointer(2, GL_FLOAT, 0, mesh.coordinates.data());
                glMatrixMode(GL_PROJECTION);
                glLoadMatrixf(mesh.projection.data());
                glMatrixMode(GL_MODELVIEW);
                glLoadMatrixf(mesh.view.data());
            }
            glViewport(0, 0, side - 1, side - 1);
            const auto start = std::chrono::steady_clock::now();
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(mesh.positions.size() / 3));
            glFinish();
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        if (write(replies, &seconds, sizeof seconds) != sizeof seconds) break;
    }
    if (context != nullptr) OSMesaDestroyContext(context);
    _exit(0);
}

// A child process holding one llvmpipe context.
class LlvmpipeProcess {
public:
    explicit LlvmpipeProcess(bool singleThread) {
        static const GlMesh mesh = makeGlMesh();
        const kelmo::render_test::RgbaImage &texture = headModel().head.texture;
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0) return;
        if (pipe(fromChild) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(toChild[1]);
            close(fromChild[0]);
            llvmpipeWorker(toChild[0], fromChild[1], singleThread, mesh, texture);
        }
        close(toChild[0]);
        close(fromChild[1]);
        requests_ = toChild[1];
        replies_ = fromChild[0];
    }
    ~LlvmpipeProcess() {
        if (pid_ <= 0) return;
        const int32_t stop = 0;
        static_cast<void>(write(requests_, &stop, sizeof stop));
        close(requests_);
        close(replies_);
        waitpid(pid_, nullptr, 0);
    }
    // Seconds for one frame at side x side, or a negative value on failure.
    double renderFrame(int32_t side) {
        double seconds = -1.0;
        if (pid_ <= 0 || write(requests_, &side, sizeof side) != sizeof side) return -1.0;
        if (read(replies_, &seconds, sizeof seconds) != sizeof seconds) return -1.0;
        return seconds;
    }

private:
    pid_t pid_ = -1;
    int requests_ = -1;
    int replies_ = -1;
};

LlvmpipeProcess &llvmpipe(bool singleThread) {
    static std::unique_ptr<LlvmpipeProcess> processes[2];
    auto &process = processes[singleThread ? 1 : 0];
    if (!process) process = std::make_unique<LlvmpipeProcess>(singleThread);
    return *process;
}

void BM_LlvmpipeRender(benchmark::State &state) {
    const auto side = static_cast<int32_t>(state.range(0));
    LlvmpipeProcess &process = llvmpipe(state.range(1) == 1);
    if (process.renderFrame(side) < 0.0) {  // warm-up: context, texture upload
        state.SkipWithError("OSMesa/llvmpipe is not available");
        return;
    }
    for (auto _ : state) {
        const double seconds = process.renderFrame(side);
        if (seconds < 0.0) {
            state.SkipWithError("llvmpipe frame failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LlvmpipeRender)
    ->ArgsProduct({{256, 512, 1024}, {1, 0}})
    ->ArgNames({"side", "single_thread"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
