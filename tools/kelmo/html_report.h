// The index.html of `kelmo demo`: every picture of the run with a caption and
// the time its step took, and links to the model files. Self-contained, with
// paths relative to the demo folder.
#pragma once

#include <string>
#include <vector>

namespace kelmo::cli {

struct ReportPicture {
    std::string file;     // relative to the folder of index.html
    std::string title;
    std::string caption;  // plain text (escaped when written)
};

struct ReportStep {
    std::string name;
    double seconds = 0.0;
    std::string detail;
};

struct DemoReport {
    std::string photoName;
    std::vector<ReportPicture> pictures;
    std::vector<ReportStep> steps;
    std::string liveViewer;               // HTML of the live 3D view, shown first; may be empty
    std::vector<std::string> modelFiles;  // relative paths of the model folder's files
    double totalSeconds = 0.0;
};

std::string htmlEscape(const std::string &text);
std::string renderReport(const DemoReport &report);

}  // namespace kelmo::cli
