#include "model/model.h"

namespace kelmo {

TModel::TModel()
    : featurePoints(kFeaturePointCount, TVector3f{0.0f, 0.0f, 0.0f}),
      featureVertices(kFeaturePointCount, 0) {
    // The texture starts as a new empty image. Should the imaging library
    // refuse (it only does for a null pointer), `texture` stays -1, which every
    // image call rejects cleanly.
    TAVO_CreateEmptyImage(&texture);
}

TModel::~TModel() {
    if (texture >= 0) TAVO_FreeImage(texture);
}

}  // namespace kelmo
