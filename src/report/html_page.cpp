#include "report/html_page.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>

#include "bn/bn.h"
#include "report/colour_maps.h"
#include "report/outcome_tables.h"
#include "util/shell_quote.h"

namespace {

constexpr std::size_t kMostBars = 40;

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

const char *kStyle = R"(body{font-family:sans-serif;margin:1.5em;max-width:75em;color:#222}
table{border-collapse:collapse;font-size:0.9em}
td,th{border:1px solid #bbb;padding:0.2em 0.5em;text-align:right}
th{background:#eee}
.montage{position:relative;display:inline-block;background:#000}
.montage span{position:absolute;color:#fff;font-size:11px;background:rgba(0,0,0,0.6);padding:0 2px}
.lr{display:flex;justify-content:space-between;font-weight:bold}
code{background:#f4f4f4;padding:0.1em 0.3em}
)";

void summarySection(std::ostringstream &html, const ReportPage &page) {
  html << "<h2>Run</h2>\n<table>\n"
       << "<tr><th>method</th><td>" << escapeHtml(page.run.method) << "</td></tr>\n"
       << "<tr><th>iterations</th><td>" << escapeHtml(page.run.iterations) << "</td></tr>\n"
       << "<tr><th>subjects</th><td>" << page.subjects << "</td></tr>\n"
       << "<tr><th>distinct models</th><td>" << page.summary.distinctModels << "</td></tr>\n"
       << "<tr><th>most frequent model</th><td>first found in iteration " << page.summary.modeId
       << "</td></tr>\n"
       << "<tr><th>its frequency</th><td>" << fixed(100.0 * page.summary.modeFrequency, 1)
       << "%</td></tr>\n"
       << "<tr><th>regions</th><td>" << page.regions << "</td></tr>\n</table>\n";
}

void modelChart(std::ostringstream &html, const ModelSummary &summary) {
  std::vector<double> shares(summary.sorted.rbegin(), summary.sorted.rend());
  const std::size_t shown = std::min(shares.size(), kMostBars);
  const double top = shares.empty() ? 1.0 : std::max(shares.front(), 1e-9);
  const int barWidth = 24;
  const int width = 60 + static_cast<int>(shown) * (barWidth + 4);
  const int height = 180;
  html << "<h2>Model frequencies</h2>\n<p>Every distinct model's share of the iterations, most "
          "frequent first"
       << (shown < shares.size() ? " (the " + std::to_string(shown) + " most frequent)" : "")
       << ".</p>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\""
       << height + 40 << "\">\n"
       << "<line x1=\"50\" y1=\"10\" x2=\"50\" y2=\"" << height + 10
       << "\" stroke=\"#444\"/>\n<text x=\"45\" y=\"16\" font-size=\"11\" text-anchor=\"end\">"
       << fixed(100.0 * top, 1) << "%</text>\n<text x=\"45\" y=\"" << height + 10
       << "\" font-size=\"11\" text-anchor=\"end\">0%</text>\n";
  for (std::size_t m = 0; m < shown; ++m) {
    const int barHeight = static_cast<int>(shares[m] / top * height);
    const int x = 56 + static_cast<int>(m) * (barWidth + 4);
    html << "<rect x=\"" << x << "\" y=\"" << height + 10 - barHeight << "\" width=\"" << barWidth
         << "\" height=\"" << barHeight << "\" fill=\"" << (m == 0 ? "#3b528b" : "#9aa9c9")
         << "\"><title>" << fixed(100.0 * shares[m], 2) << "%</title></rect>\n<text x=\""
         << x + barWidth / 2 << "\" y=\"" << height + 26
         << "\" font-size=\"10\" text-anchor=\"middle\">" << m + 1 << "</text>\n";
  }
  html << "</svg>\n";
}

// One box per region with P(outcome = 1 | its voxel's state), an arrow from each to the outcome.
void networkDiagram(std::ostringstream &html, const ReportPage &page) {
  html << "<h2>Fitted network</h2>\n<p>Each region's representative voxel is a parent of the "
          "outcome. Under each region: the probability of outcome 1 given that voxel's state, "
          "the other regions averaged over their frequencies.</p>\n";
  const int boxW = 150;
  const int boxH = 78;
  const int regions = std::max(page.regions, 1);
  const int width = 20 + regions * (boxW + 20);
  const int outcomeX = width / 2 - 60;
  html << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width
       << "\" height=\"220\">\n<defs><marker id=\"arrow\" viewBox=\"0 0 10 10\" refX=\"10\" "
          "refY=\"5\" markerWidth=\"8\" markerHeight=\"8\" orient=\"auto\"><path d=\"M0,0L10,5L0,"
          "10z\" fill=\"#444\"/></marker></defs>\n";
  for (int r = 1; r <= page.regions; ++r) {
    const int x = 20 + (r - 1) * (boxW + 20);
    const auto given = page.network ? outcomeGivenRegion(*page.network, r - 1)
                                    : std::vector<std::vector<double>>();
    html << "<line x1=\"" << x + boxW / 2 << "\" y1=\"" << 10 + boxH << "\" x2=\"" << width / 2
         << "\" y2=\"160\" stroke=\"#444\" marker-end=\"url(#arrow)\"/>\n<rect x=\"" << x
         << "\" y=\"10\" width=\"" << boxW << "\" height=\"" << boxH << "\" fill=\"#fff\" stroke=\""
         << hexColour(regionColour(r)) << "\" stroke-width=\"3\"/>\n<text x=\"" << x + 8
         << "\" y=\"28\" font-size=\"12\" font-weight=\"bold\">region " << r << " (voxel "
         << page.representatives[r - 1] + 1 << ")</text>\n";
    for (std::size_t s = 0; s < given.size() && given[s].size() > 1; ++s)
      html << "<text x=\"" << x + 8 << "\" y=\"" << 48 + 16 * static_cast<int>(s)
           << "\" font-size=\"12\">" << (s == 0 ? "spared" : "lesioned")
           << ": P(outcome 1) = " << fixed(given[s][1], 3) << "</text>\n";
  }
  html << "<rect x=\"" << outcomeX
       << "\" y=\"160\" width=\"120\" height=\"40\" fill=\"#eef\" "
          "stroke=\"#444\"/>\n<text x=\""
       << width / 2 << "\" y=\"185\" font-size=\"13\" text-anchor=\"middle\">outcome</text>\n"
       << "</svg>\n";
}

void regionTable(std::ostringstream &html, const ReportPage &page) {
  html << "<h2>Regions</h2>\n";
  if (page.regions == 0) {
    html << "<p><strong>This run found no regions.</strong></p>\n";
    return;
  }
  html << "<p>Coordinates in mm; freq_mean and freq_max are percentages of the most frequent "
          "model's iterations. Also in <a href=\"regions.csv\">regions.csv</a>.</p>\n<table>\n";
  for (std::size_t row = 0; row < page.table.size(); ++row) {
    const char *cell = row == 0 ? "th" : "td";
    html << "<tr>";
    for (const std::string &text : page.table[row])
      html << "<" << cell << ">" << escapeHtml(text) << "</" << cell << ">";
    html << "</tr>\n";
  }
  html << "</table>\n";
}

void gradientBar(std::ostringstream &html, const std::string &id,
                 const std::function<Rgb(double)> &colourAt, const std::string &low,
                 const std::string &high, const std::string &caption) {
  html << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"320\" height=\"42\">\n"
       << "<defs><linearGradient id=\"" << id << "\">";
  for (int stop = 0; stop <= 10; ++stop)
    html << "<stop offset=\"" << stop * 10 << "%\" stop-color=\""
         << hexColour(colourAt(stop / 10.0)) << "\"/>";
  html << "</linearGradient></defs>\n<rect x=\"10\" y=\"4\" width=\"300\" height=\"14\" "
          "fill=\"url(#"
       << id << ")\" stroke=\"#444\"/>\n<text x=\"10\" y=\"32\" font-size=\"11\">" << low
       << "</text>\n<text x=\"310\" y=\"32\" font-size=\"11\" text-anchor=\"end\">" << high
       << "</text>\n<text x=\"160\" y=\"32\" font-size=\"11\" text-anchor=\"middle\">"
       << escapeHtml(caption) << "</text>\n</svg>\n";
}

void montageFigure(std::ostringstream &html, const MontageLayout &layout, const std::string &file,
                   const std::string &alt) {
  html << "<div style=\"display:inline-block\"><div class=\"lr\" style=\"width:" << layout.width
       << "px\"><span>L</span><span>R</span></div>\n<div class=\"montage\"><img src=\""
       << escapeHtml(file) << "\" width=\"" << layout.width << "\" height=\"" << layout.height
       << "\" alt=\"" << escapeHtml(alt) << "\">\n";
  for (std::size_t t = 0; t < layout.sliceMm.size(); ++t)
    html << "<span style=\"left:" << layout.tileLeft(static_cast<int>(t)) + 2
         << "px;top:" << layout.tileTop(static_cast<int>(t)) + 2
         << "px\">z = " << fixed(layout.sliceMm[t], 1) << " mm</span>\n";
  html << "</div></div>\n";
}

void backgroundBar(std::ostringstream &html, const ReportPage &page) {
  if (page.backgroundName.empty()) {
    html << "<p>No background: give <code>--study</code> or <code>--background</code> to draw the "
            "maps over anatomy.</p>\n";
    return;
  }
  const auto greyAt = [](double t) {
    const auto level = static_cast<unsigned char>(20 + t * 215.0);
    return Rgb{level, level, level};
  };
  gradientBar(html, "greyscale", greyAt, "0", fixed(page.backgroundTop, 1) + " and above",
              "background: " + page.backgroundName);
}

void montages(std::ostringstream &html, const ReportPage &page) {
  html << "<h2>Axial slices</h2>\n<p>Neurological convention: the subject's left is on the left; "
          "anterior is up. Slices from inferior to superior.</p>\n<h3>Regions</h3>\n";
  montageFigure(html, page.layout, page.regionsImage, "regions on axial slices");
  html << "<p>";
  for (int r = 1; r <= page.regions; ++r)
    html << "<span style=\"display:inline-block;width:1em;height:1em;background:"
         << hexColour(regionColour(r)) << "\"></span> region " << r << " &nbsp; ";
  html << "</p>\n";
  backgroundBar(html, page);
  html << "<h3>Frequency</h3>\n";
  montageFigure(html, page.layout, page.frequencyImage, "frequency map on axial slices");
  html << "<br>\n";
  gradientBar(html, "viridis", viridisColour, "0%", "100%",
              "share of the most frequent model's iterations");
}

} // namespace

std::string escapeHtml(const std::string &text) {
  std::string safe;
  for (const char c : text) {
    switch (c) {
    case '&':
      safe += "&amp;";
      break;
    case '<':
      safe += "&lt;";
      break;
    case '>':
      safe += "&gt;";
      break;
    case '"':
      safe += "&quot;";
      break;
    default:
      safe += c;
    }
  }
  return safe;
}

std::string reportHtml(const ReportPage &page) {
  std::ostringstream html;
  html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
       << "<title>torvacoreel report</title>\n<style>\n"
       << kStyle << "</style>\n</head>\n<body>\n<h1>torvacoreel report</h1>\n";
  if (page.regions == 0)
    html << "<p><strong>The most frequent model has no regions: no voxel was found whose state "
            "predicts the outcome.</strong></p>\n";
  summarySection(html, page);
  modelChart(html, page.summary);
  networkDiagram(html, page);
  regionTable(html, page);
  montages(html, page);
  html << "<h2>Commands</h2>\n<p>This page was made by:</p>\n";
  for (const std::string &command : page.commands)
    html << "<pre>" << escapeHtml(command) << "</pre>\n";
  html << "</body>\n</html>\n";
  return html.str();
}
