// Pictures of landmarks (see drawing.h).
#include "tools/kelmo/drawing.h"

#include <algorithm>
#include <cmath>

#include "tools/kelmo/landmark_scheme.h"

namespace kelmo::cli {

CropBox boxAround(const FeaturePoints &points, double margin, int photoWidth, int photoHeight) {
    int x1 = points[0].x, x2 = points[0].x, y1 = points[0].y, y2 = points[0].y;
    for (const PointI &p : points) {
        x1 = std::min(x1, p.x), x2 = std::max(x2, p.x);
        y1 = std::min(y1, p.y), y2 = std::max(y2, p.y);
    }
    const int mx = static_cast<int>((x2 - x1) * margin), my = static_cast<int>((y2 - y1) * margin);
    return {std::clamp(x1 - mx, 0, photoWidth - 1), std::clamp(y1 - my, 0, photoHeight - 1),
            std::clamp(x2 + mx, 0, photoWidth - 1), std::clamp(y2 + my, 0, photoHeight - 1)};
}

Canvas drawLandmarks(const Canvas &photo, const FeaturePoints &points, std::optional<CropBox> crop) {
    const CropBox box = crop.value_or(CropBox{0, 0, photo.width() - 1, photo.height() - 1});
    const int w = box.right - box.left + 1, h = box.bottom - box.top + 1;
    int faceWidth = 1;
    {
        const CropBox face = boxAround(points, 0.0, photo.width(), photo.height());
        faceWidth = std::max(1, face.right - face.left);
    }
    int factor = std::clamp((640 + faceWidth - 1) / faceWidth, 1, 4);
    while (factor > 1 && std::max(w, h) * factor > 4096) --factor;

    // Enlarge by pixel replication: the photo's pixels stay recognisable.
    Canvas out(w * factor, h * factor, {0, 0, 0, 255});
    for (int y = 0; y < h * factor; ++y)
        for (int x = 0; x < w * factor; ++x) out.plot(x, y, photo.at(box.left + x / factor, box.top + y / factor));
    // Darken slightly so that the marks stand out.
    out.fillRect(0, 0, out.width(), out.height(), {0, 0, 0, 60});

    const int radius = std::max(2, faceWidth * factor / 160);
    const int textScale = std::max(1, faceWidth * factor / 500);
    for (int i = 0; i < kFeaturePointCount; ++i) {
        const PointI &p = points[static_cast<std::size_t>(i)];
        const int x = (p.x - box.left) * factor + factor / 2, y = (p.y - box.top) * factor + factor / 2;
        Rgba colour{60, 220, 80, 255};
        if (landmarkRole(i) == LandmarkRole::kExcluded) colour = {255, 150, 30, 255};
        if (landmarkRole(i) == LandmarkRole::kEyeball) colour = {70, 150, 255, 255};
        out.fillCircle(x, y, radius + 1, {0, 0, 0, 255});
        out.fillCircle(x, y, radius, colour);
        const std::string label = std::to_string(i);
        const int tx = x + radius + 2, ty = y - Canvas::textHeight(textScale) - 1;
        out.fillRect(tx - 1, ty - 1, Canvas::textWidth(label, textScale) + 1, Canvas::textHeight(textScale) + 2,
                     {0, 0, 0, 150});
        out.drawText(tx, ty, label, {255, 255, 255, 255}, textScale);
    }
    return out;
}

}  // namespace kelmo::cli
