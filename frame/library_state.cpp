#include "frame/library_state.h"

namespace kelmo {

LibraryState &libraryState() {
    // Never destroyed: models release their textures into tavoimage, whose
    // table may already be gone when static destructors run at process exit.
    static LibraryState *const state = new LibraryState;
    return *state;
}

}  // namespace kelmo
