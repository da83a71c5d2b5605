// The index.html of `kelmo demo` (see html_report.h).
#include "tools/kelmo/html_report.h"

#include <cstdio>

namespace kelmo::cli {

std::string htmlEscape(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string renderReport(const DemoReport &report) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>kelmo demo</title>\n<style>\n"
        "body { font-family: sans-serif; margin: 2em; background: #f4f4f4; color: #222; }\n"
        "figure { display: inline-block; vertical-align: top; margin: 0 1.5em 1.5em 0; }\n"
        "figure img { background: #8a8f96; max-width: 100%; border: 1px solid #ccc; }\n"
        "figcaption { max-width: 40em; font-size: 0.9em; }\n"
        "table { border-collapse: collapse; } td, th { padding: 0.2em 1em 0.2em 0; text-align: left; }\n"
        "td.t { text-align: right; font-variant-numeric: tabular-nums; }\n"
        "</style>\n</head>\n<body>\n<h1>kelmo demo</h1>\n";
    html += "<p>A 3D head from one photo: <code>" + htmlEscape(report.photoName) + "</code>.</p>\n";
    if (!report.liveViewer.empty()) html += "<h2>The head in 3D</h2>\n" + report.liveViewer + "<h2>Pictures</h2>\n";
    for (const ReportPicture &p : report.pictures) {
        html += "<figure>\n<img src=\"" + htmlEscape(p.file) + "\" alt=\"" + htmlEscape(p.title) + "\">\n";
        html += "<figcaption><b>" + htmlEscape(p.title) + "</b> (<a href=\"" + htmlEscape(p.file) + "\">" +
                htmlEscape(p.file) + "</a>). " + htmlEscape(p.caption) + "</figcaption>\n</figure>\n";
    }
    html += "<h2>The model</h2>\n<p>";
    for (const std::string &f : report.modelFiles)
        html += "<a href=\"" + htmlEscape(f) + "\"><code>" + htmlEscape(f) + "</code></a> ";
    html += "</p>\n<h2>Steps</h2>\n<table>\n<tr><th>step</th><th>seconds</th><th></th></tr>\n";
    char seconds[32];
    for (const ReportStep &s : report.steps) {
        std::snprintf(seconds, sizeof seconds, "%.2f", s.seconds);
        html += "<tr><td>" + htmlEscape(s.name) + "</td><td class=\"t\">" + seconds + "</td><td>" +
                htmlEscape(s.detail) + "</td></tr>\n";
    }
    std::snprintf(seconds, sizeof seconds, "%.2f", report.totalSeconds);
    html += std::string("<tr><th>total</th><th class=\"t\">") + seconds + "</th><th></th></tr>\n</table>\n";
    html += "<p>Made by <code>kelmo demo</code>. The landmarks come from dlib's 68-point model, whose training "
            "data exclude commercial use; a host may bring its own points (<code>--points</code>).</p>\n"
            "</body>\n</html>\n";
    return html;
}

}  // namespace kelmo::cli
