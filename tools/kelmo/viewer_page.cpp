// The live 3D view of a head in a web page (see viewer_page.h).
#include "tools/kelmo/viewer_page.h"

#include <filesystem>

#include "tools/kelmo/html_report.h"
#include "tools/kelmo/session.h"

namespace kelmo::cli {

namespace fs = std::filesystem;

std::string findViewerScript() {
    const fs::path exe = executableDirectory();
    std::error_code ec;
    for (const fs::path &candidate :
         {exe / ".." / "viewer" / kViewerScriptName, exe / ".." / "share" / "kelmo" / "viewer" / kViewerScriptName})
        if (fs::is_regular_file(candidate, ec)) return candidate.lexically_normal().string();
    return "";
}

std::string base64(const std::vector<uint8_t> &bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4 + bytes.size() / 57 + 1);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        const uint32_t group = (uint32_t{bytes[i]} << 16) | (left > 1 ? uint32_t{bytes[i + 1]} << 8 : 0u) |
                               (left > 2 ? uint32_t{bytes[i + 2]} : 0u);
        out += kDigits[(group >> 18) & 63];
        out += kDigits[(group >> 12) & 63];
        out += left > 1 ? kDigits[(group >> 6) & 63] : '=';
        out += left > 2 ? kDigits[group & 63] : '=';
        if ((i / 3 + 1) % 19 == 0) out += '\n';  // lines of 76 characters
    }
    return out;
}

std::string viewerSection(const std::vector<uint8_t> &glb) {
    return "<style>\n"
           "#kelmo-viewer { display: flex; flex-wrap: wrap; gap: 1em; align-items: flex-start; }\n"
           "#kelmo-viewer .kelmo-canvas { width: 640px; height: 640px; max-width: 100%; }\n"
           "#kelmo-viewer canvas { display: block; border: 1px solid #ccc; touch-action: none; }\n"
           "#kelmo-viewer .kelmo-controls { flex: 0 0 20em; }\n"
           "#kelmo-viewer .kelmo-controls label { display: grid; grid-template-columns: 6em 10em 3em; "
           "align-items: center; margin: 0.5em 0; }\n"
           "#kelmo-viewer .kelmo-controls output { font-variant-numeric: tabular-nums; text-align: right; }\n"
           "#kelmo-viewer button { margin-top: 0.8em; padding: 0.3em 1.5em; }\n"
           "</style>\n"
           "<div id=\"kelmo-viewer\" style=\"min-height: 640px\"></div>\n"
           "<p>Drag to turn the head, scroll to zoom, right-drag to move it.</p>\n"
           "<script type=\"application/octet-stream\" id=\"kelmo-model\">\n" +
           base64(glb) + "</script>\n<script src=\"" + std::string(kViewerScriptName) + "\"></script>\n";
}

std::string viewerPage(const std::vector<uint8_t> &glb, const std::string &title) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + htmlEscape(title) +
           "</title>\n<style>body { font-family: sans-serif; margin: 2em; background: #f4f4f4; color: #222; }</style>\n"
           "</head>\n<body>\n<h1>" +
           htmlEscape(title) + "</h1>\n" + viewerSection(glb) + "</body>\n</html>\n";
}

}  // namespace kelmo::cli
