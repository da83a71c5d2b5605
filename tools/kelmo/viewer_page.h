// The live 3D view of a head in a web page: the head as a GLB embedded in
// base64, shown by kelmo-viewer.js (the viewer with three.js bundled in,
// tools/kelmo/viewer/viewer.js), which lies beside the page. The view can be
// orbited and zoomed, has a slider per morph target and a button that plays
// a talking loop; it needs no server and no network, so it opens from
// file://.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelmo::cli {

inline constexpr const char *kViewerScriptName = "kelmo-viewer.js";

// The viewer script of this build or installation: <exe>/../viewer/ (the
// build tree) or <exe>/../share/kelmo/viewer/; empty when neither holds it.
std::string findViewerScript();

std::string base64(const std::vector<uint8_t> &bytes);

// The style, the view's element, the embedded GLB and the script tag, to be
// placed in a page's body.
std::string viewerSection(const std::vector<uint8_t> &glb);
// A whole page around viewerSection.
std::string viewerPage(const std::vector<uint8_t> &glb, const std::string &title);

}  // namespace kelmo::cli
