#include "report/html_page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <sstream>

#include "bn/bn.h"
#include "report/colour_maps.h"
#include "report/outcome_tables.h"
#include "report/svg_text.h"

namespace {

constexpr std::size_t kMostBars = 40;

std::string fixed(double value, int decimals) { return fixedText(value, decimals); }

// Wide pictures and tables scroll inside their own frame instead of widening the page; a frame
// of class "rows" also scrolls down within the window, so its horizontal scroll bar stays in view.
void openFrame(std::ostringstream &html, const char *kind = "") {
  html << "<div class=\"frame" << (*kind != '\0' ? " " : "") << kind << "\">\n";
}
void closeFrame(std::ostringstream &html) { html << "</div>\n"; }

const char *kStyle = R"(body{font-family:sans-serif;margin:1.5em;max-width:75em;color:#222}
table{border-collapse:collapse;font-size:0.9em}
.frame{overflow-x:auto;max-width:100%}
.caption{font-size:0.8em;margin:0 0 0.8em 10px}
.comparison{max-width:34em}
.charts{display:flex;flex-wrap:wrap;gap:2em;align-items:flex-start}
td,th{border:1px solid #bbb;padding:0.2em 0.5em;text-align:right;white-space:nowrap}
th{background:#eee}
.rows{max-height:80vh;overflow-y:auto}
table.regions{border-collapse:separate;border-spacing:0}
table.regions td,table.regions th{border-width:0 1px 1px 0}
table.regions tr>:first-child{border-left-width:1px}
table.regions tr:first-child>*{border-top-width:1px}
table.regions th{position:sticky;top:0;z-index:2}
table.regions tr>:first-child{position:sticky;left:0;z-index:1;background:#fff}
table.regions th:first-child{z-index:3;background:#eee}
td.name,th.name{text-align:left}
p,.caption{overflow-wrap:anywhere}
pre{white-space:pre-wrap;overflow-wrap:anywhere}
.montage{position:relative;display:inline-block;background:#000}
.montage span{position:absolute;color:#fff;font-size:11px;background:rgba(0,0,0,0.6);padding:0 2px}
.lr{display:flex;justify-content:space-between;font-weight:bold}
code{background:#f4f4f4;padding:0.1em 0.3em}
)";

void summarySection(std::ostringstream &html, const ReportPage &page) {
  html << "<h2>Run</h2>\n<table>\n"
       << "<tr><th>method</th><td>" << escapeHtml(page.run.method) << "</td></tr>\n"
       << "<tr><th>iterations</th><td>" << escapeHtml(page.run.iterations) << "</td></tr>\n"
       << "<tr><th>subjects</th><td>" << page.subjects << "</td></tr>\n";
  if (!page.representativeShare.empty())
    html << "<tr><th>representativeShare</th><td>" << escapeHtml(page.representativeShare)
         << "</td></tr>\n";
  html << "<tr><th>distinct models</th><td>" << page.summary.distinctModels << "</td></tr>\n"
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

constexpr int kBoxFont = 12;
constexpr int kBoxPadding = 10;

// Lines of region r's box: its name, then P(outcome 1) for each state of its voxel.
std::vector<std::string> boxLines(const ReportPage &page, int r) {
  std::vector<std::string> lines = {"region " + std::to_string(r) + " (voxel " +
                                    std::to_string(page.representatives[r - 1] + 1) + ")"};
  const auto given =
      page.network ? outcomeGivenRegion(*page.network, r - 1) : std::vector<std::vector<double>>();
  for (std::size_t s = 0; s < given.size() && given[s].size() > 1; ++s)
    lines.push_back(std::string(s == 0 ? "spared" : "lesioned") +
                    ": P(outcome 1) = " + fixed(given[s][1], 3));
  return lines;
}

// Width of a box that holds `lines`, the first in bold, with padding on both sides.
int boxWidth(const std::vector<std::string> &lines) {
  double widest = 0;
  for (std::size_t n = 0; n < lines.size(); ++n)
    widest = std::max(widest, textWidth(lines[n], kBoxFont, n == 0));
  return static_cast<int>(std::ceil(widest)) + 2 * kBoxPadding;
}

// One box per region with P(outcome = 1 | its voxel's state), an arrow from each to the outcome.
// Each box is as wide as its longest line.
void networkDiagram(std::ostringstream &html, const ReportPage &page) {
  html << "<h2>Fitted network</h2>\n<p>Each region's representative voxel is a parent of the "
          "outcome. Under each region: the probability of outcome 1 given that voxel's state, "
          "the other regions averaged over their frequencies.</p>\n";
  const int boxH = 78;
  const int outcomeW = 120;
  std::vector<std::vector<std::string>> lines;
  std::vector<int> left;
  int width = 20;
  for (int r = 1; r <= page.regions; ++r) {
    lines.push_back(boxLines(page, r));
    left.push_back(width);
    width += boxWidth(lines.back()) + 20;
  }
  width = std::max(width, outcomeW + 40);
  const int centre = width / 2;
  openFrame(html);
  html << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width
       << "\" height=\"220\">\n<defs><marker id=\"arrow\" viewBox=\"0 0 10 10\" refX=\"10\" "
          "refY=\"5\" markerWidth=\"8\" markerHeight=\"8\" orient=\"auto\"><path d=\"M0,0L10,5L0,"
          "10z\" fill=\"#444\"/></marker></defs>\n";
  for (int r = 1; r <= page.regions; ++r) {
    const int x = left[r - 1];
    const int boxW = boxWidth(lines[r - 1]);
    html
        << "<line x1=\"" << x + boxW / 2 << "\" y1=\"" << 10 + boxH << "\" x2=\"" << centre
        << "\" y2=\"160\" stroke=\"#444\" marker-end=\"url(#arrow)\"/>\n<g class=\"box\"><rect x=\""
        << x << "\" y=\"10\" width=\"" << boxW << "\" height=\"" << boxH
        << "\" fill=\"#fff\" stroke=\"" << hexColour(regionColour(r))
        << "\" stroke-width=\"3\"/>\n";
    for (std::size_t n = 0; n < lines[r - 1].size(); ++n)
      html << "<text x=\"" << x + kBoxPadding << "\" y=\"" << 28 + 20 * static_cast<int>(n)
           << "\" font-size=\"" << kBoxFont << "\"" << (n == 0 ? " font-weight=\"bold\"" : "")
           << ">" << escapeHtml(lines[r - 1][n]) << "</text>\n";
    html << "</g>\n";
  }
  html << "<g class=\"box\"><rect x=\"" << centre - outcomeW / 2 << "\" y=\"160\" width=\""
       << outcomeW << "\" height=\"40\" fill=\"#eef\" stroke=\"#444\"/>\n<text x=\"" << centre
       << "\" y=\"185\" font-size=\"13\" text-anchor=\"middle\">outcome</text></g>\n</svg>\n";
  closeFrame(html);
}

bool isNameColumn(const std::string &header) {
  return header == "rep_label" || header == "top_labels";
}

// A top_labels cell with each of its "name:percent" entries on a line of its own.
std::string nameLines(const std::string &cell) {
  std::string html;
  std::size_t from = 0;
  for (std::size_t at = cell.find(';'); at != std::string::npos; at = cell.find(';', from)) {
    html += escapeHtml(cell.substr(from, at + 1 - from)) + "<br>";
    from = at + 1;
  }
  return html + escapeHtml(cell.substr(from));
}

void regionTable(std::ostringstream &html, const ReportPage &page) {
  html << "<h2>Regions</h2>\n";
  if (page.regions == 0) {
    html << "<p><strong>This run found no regions.</strong></p>\n";
    return;
  }
  html << "<p>Coordinates in mm; freq_mean and freq_max are percentages of the most frequent "
          "model's iterations.";
  if (page.permutations > 0)
    html << " p_fwe: the family-wise error p-value of the region's gain, from " << page.permutations
         << " permutations of the outcome within the earlier regions' states (maximum statistic "
            "over the round's candidate voxels).";
  if (page.volumeControl)
    html << " p_fwe_volume: the same test with the outcome permuted within lesion-volume bins "
            "as well, so that it asks whether the region adds to lesion size.";
  if (!page.atlas.empty())
    html << " rep_label: the atlas label at the representative voxel; top_labels: the atlas "
            "labels holding most of the region's voxels, with their percentages (atlas "
         << escapeHtml(page.atlas) << ").";
  html << " Also in <a href=\"regions.csv\">regions.csv</a>.</p>\n";
  // The header and the region column stay in view while the table scrolls within its frame.
  openFrame(html, "rows");
  html << "<table class=\"regions\">\n";
  const std::vector<std::string> &header = page.table.front();
  for (std::size_t row = 0; row < page.table.size(); ++row) {
    html << "<tr>";
    for (std::size_t column = 0; column < page.table[row].size(); ++column) {
      const std::string &text = page.table[row][column];
      if (row == 0)
        html << (isNameColumn(text) ? "<th class=\"name\">" : "<th>") << escapeHtml(text)
             << "</th>";
      else if (isNameColumn(header[column]))
        html << "<td class=\"name\">"
             << (header[column] == "top_labels" ? nameLines(text) : escapeHtml(text)) << "</td>";
      else
        html << "<td>" << escapeHtml(text) << "</td>";
    }
    html << "</tr>\n";
  }
  html << "</table>\n";
  closeFrame(html);
}

// A colour bar with its end values under its ends and the caption on its own line below, so the
// two never meet.
void gradientBar(std::ostringstream &html, const std::string &id,
                 const std::function<Rgb(double)> &colourAt, const std::string &low,
                 const std::string &high, const std::string &caption) {
  html << "<div><svg xmlns=\"http://www.w3.org/2000/svg\" width=\"320\" height=\"38\">\n"
       << "<defs><linearGradient id=\"" << id << "\">";
  for (int stop = 0; stop <= 10; ++stop)
    html << "<stop offset=\"" << stop * 10 << "%\" stop-color=\""
         << hexColour(colourAt(stop / 10.0)) << "\"/>";
  html << "</linearGradient></defs>\n<rect x=\"10\" y=\"4\" width=\"300\" height=\"14\" "
          "fill=\"url(#"
       << id << ")\" stroke=\"#444\"/>\n<text x=\"10\" y=\"32\" font-size=\"11\">"
       << escapeHtml(low) << "</text>\n<text x=\"310\" y=\"32\" font-size=\"11\" "
       << "text-anchor=\"end\">" << escapeHtml(high) << "</text>\n</svg>\n<div class=\"caption\">"
       << escapeHtml(caption) << "</div></div>\n";
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

void gainMontage(std::ostringstream &html, const ReportPage &page) {
  if (page.gain.image.empty())
    return;
  html << "<h3>Round-1 gain, family-wise significant</h3>\n<p>The gain of every candidate voxel "
          "in the first search round, on all subjects, where its family-wise corrected p-value "
          "is at most 0.05 (gain_corrp_map &ge; 0.95): "
       << page.gain.significant << " voxels, " << page.gain.shown << " of them in these slices.";
  if (page.gain.significant == 0)
    html << " <strong>No voxel reaches it.</strong>";
  html << "</p>\n";
  montageFigure(html, page.layout, page.gain.image, "significant round-1 gain on axial slices");
  html << "<br>\n";
  gradientBar(html, "redyellow", redYellowColour, "0", fixed(page.gain.top, 3),
              "round-1 gain (K2 score difference, natural log)");
}

void montages(std::ostringstream &html, const ReportPage &page) {
  html << "<h2>Axial slices</h2>\n<p>Neurological convention: the subject's left is on the left; "
          "anterior is up. Slices from inferior to superior that hold a region, cropped to the "
          "background.</p>\n<h3>Regions</h3>\n";
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
  gainMontage(html, page);
}

void predictionSection(std::ostringstream &html, const PredictionView &view) {
  if (!view.present)
    return;
  html << "<h2>Held-out prediction</h2>\n<p>Every resampling iteration's network predicts the "
          "subjects that iteration did not draw; a subject's P(outcome 1) is the mean of its "
          "predictions. The search for regions was repeated without those subjects, so these "
          "numbers are not flattered by the search. Lesion volume alone is the baseline to "
          "beat.</p>\n<div class=\"charts\">\n<div>\n<table>\n";
  for (const auto &measure : view.measures)
    html << "<tr><th>" << escapeHtml(measure.first) << "</th><td>" << escapeHtml(measure.second)
         << "</td></tr>\n";
  html << "</table>\n</div>\n<div>\n<h3>ROC</h3>\n";
  if (view.roc.empty())
    html << "<p>No curve: the predicted subjects hold only one outcome.</p>\n";
  else
    html << rocSvg(view.roc);
  if (!view.comparison.empty())
    html << "<p class=\"comparison\">" << escapeHtml(view.comparison) << "</p>\n";
  if (!view.note.empty())
    html << "<p>" << escapeHtml(view.note) << "</p>\n";
  html << "</div>\n<div>\n<h3>Calibration</h3>\n"
       << calibrationSvg(view.bins)
       << "<div class=\"caption\">A point per bin that holds subjects, larger for more "
          "subjects;<br>lines join neighbouring bins only.</div>\n"
       << "<table>\n<tr><th>P(outcome 1)</th><th>subjects</th><th>mean predicted</th>"
          "<th>observed rate</th></tr>\n";
  for (const CalibrationBin &bin : view.bins) {
    html << "<tr><td>" << fixed(bin.low, 1) << " &ndash; " << fixed(bin.high, 1) << "</td><td>"
         << bin.subjects << "</td>";
    if (bin.subjects == 0)
      html << "<td>-</td><td>-</td></tr>\n";
    else
      html << "<td>" << fixed(bin.meanPredicted, 3) << "</td><td>" << fixed(bin.observed, 3)
           << "</td></tr>\n";
  }
  html << "</table>\n</div>\n</div>\n";
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
  predictionSection(html, page.prediction);
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
