#include "report/evidence_charts.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <sstream>

#include "report/svg_text.h"

namespace {

constexpr int kFont = 12;

// A square plot of the unit interval on both axes, with its tick labels and captions.
struct UnitPlot {
  double left = 0;
  double top = 30;
  double size = 260;

  double px(double x) const { return left + x * size; }
  double py(double y) const { return top + (1.0 - y) * size; }
};

std::string coordinate(double value) { return fixedText(value, 1); }

void text(std::ostringstream &svg, double x, double y, const std::string &content,
          const char *anchor = "start") {
  svg << "<text x=\"" << coordinate(x) << "\" y=\"" << coordinate(y) << "\" font-size=\"" << kFont
      << "\" text-anchor=\"" << anchor << "\">" << content << "</text>\n";
}

// The axes, ticks at 0, 0.5 and 1, the captions clear of the tick labels: the x caption on its
// own line under them, the y caption above the axis.
void unitAxes(std::ostringstream &svg, const UnitPlot &plot, const std::string &xCaption,
              const std::string &yCaption) {
  svg << "<rect x=\"" << coordinate(plot.left) << "\" y=\"" << coordinate(plot.top) << "\" width=\""
      << plot.size << "\" height=\"" << plot.size
      << "\" fill=\"#fff\" stroke=\"#444\"/>\n<line x1=\"" << coordinate(plot.px(0)) << "\" y1=\""
      << coordinate(plot.py(0)) << "\" x2=\"" << coordinate(plot.px(1)) << "\" y2=\""
      << coordinate(plot.py(1)) << "\" stroke=\"#aaa\" stroke-dasharray=\"4 4\"/>\n";
  for (const double tick : {0.0, 0.5, 1.0}) {
    const std::string label = fixedText(tick, 1);
    text(svg, plot.px(tick), plot.py(0) + 20, label, "middle"); // below the y axis's "0.0"
    text(svg, plot.left - 6, plot.py(tick) + 4, label, "end");
  }
  text(svg, plot.px(0.5), plot.py(0) + 38, xCaption, "middle");
  text(svg, plot.left, plot.top - 10, yCaption);
}

std::string openSvg(double width, double height) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
         std::to_string(static_cast<int>(std::ceil(width))) + "\" height=\"" +
         std::to_string(static_cast<int>(std::ceil(height))) + "\">\n";
}

} // namespace

std::vector<RocPoint> rocCurve(const std::vector<double> &scores,
                               const std::vector<int> &outcomes) {
  const long positives = std::count(outcomes.begin(), outcomes.end(), 1);
  const long negatives = static_cast<long>(outcomes.size()) - positives;
  if (positives == 0 || negatives == 0)
    return {};
  std::vector<std::size_t> order(scores.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return scores[a] > scores[b]; });
  std::vector<RocPoint> curve{{0.0, 0.0}};
  long tp = 0;
  long fp = 0;
  for (std::size_t at = 0; at < order.size();) {
    const double cut = scores[order[at]];
    for (; at < order.size() && scores[order[at]] == cut; ++at)
      (outcomes[order[at]] == 1 ? tp : fp) += 1;
    curve.push_back({static_cast<double>(fp) / negatives, static_cast<double>(tp) / positives});
  }
  return curve;
}

std::vector<CalibrationBin> calibrationBins(const std::vector<double> &predicted,
                                            const std::vector<int> &outcomes) {
  std::vector<CalibrationBin> bins(kCalibrationBins);
  std::vector<double> sums(kCalibrationBins, 0.0);
  std::vector<long> ones(kCalibrationBins, 0);
  for (std::size_t s = 0; s < predicted.size(); ++s) {
    const int bin = std::clamp(static_cast<int>(std::floor(predicted[s] * kCalibrationBins)), 0,
                               kCalibrationBins - 1);
    ++bins[bin].subjects;
    sums[bin] += predicted[s];
    ones[bin] += outcomes[s];
  }
  for (int b = 0; b < kCalibrationBins; ++b) {
    bins[b].low = static_cast<double>(b) / kCalibrationBins;
    bins[b].high = static_cast<double>(b + 1) / kCalibrationBins;
    if (bins[b].subjects > 0) {
      bins[b].meanPredicted = sums[b] / static_cast<double>(bins[b].subjects);
      bins[b].observed = static_cast<double>(ones[b]) / static_cast<double>(bins[b].subjects);
    }
  }
  return bins;
}

std::string rocSvg(const std::vector<RocSeries> &series) {
  UnitPlot plot;
  plot.left = 40;
  const double legendX = plot.px(1) + 20;
  double legendWidth = 0;
  for (const RocSeries &s : series)
    legendWidth = std::max(legendWidth, 30 + textWidth(s.label, kFont));
  std::ostringstream svg;
  svg << openSvg(legendX + legendWidth + 10, plot.py(0) + 48);
  unitAxes(svg, plot, "false-positive rate", "true-positive rate");
  for (std::size_t n = 0; n < series.size(); ++n) {
    const RocSeries &s = series[n];
    const std::string dash = s.dashed ? "\" stroke-dasharray=\"6 3" : "";
    svg << "<path fill=\"none\" stroke-width=\"2\" stroke=\"" << s.colour << dash << "\" d=\"";
    for (std::size_t p = 0; p < s.curve.size(); ++p)
      svg << (p == 0 ? "M" : " L") << coordinate(plot.px(s.curve[p].falsePositive)) << ","
          << coordinate(plot.py(s.curve[p].truePositive));
    const double y = plot.top + 20 + 22 * static_cast<double>(n);
    svg << "\"/>\n<line x1=\"" << coordinate(legendX) << "\" y1=\"" << coordinate(y - 4)
        << "\" x2=\"" << coordinate(legendX + 22) << "\" y2=\"" << coordinate(y - 4)
        << "\" stroke-width=\"2\" stroke=\"" << s.colour << dash << "\"/>\n";
    text(svg, legendX + 30, y, s.label);
  }
  svg << "</svg>\n";
  return svg.str();
}

double calibrationRadius(long subjects, long largest) {
  if (subjects <= 0 || largest <= 0)
    return 0;
  return 3.0 + 7.0 * std::sqrt(static_cast<double>(subjects) / static_cast<double>(largest));
}

std::string calibrationSvg(const std::vector<CalibrationBin> &bins) {
  UnitPlot plot;
  plot.left = 40;
  plot.top = 42; // room for the largest point at rate 1 under the y caption
  std::ostringstream svg;
  svg << openSvg(plot.px(1) + 20, plot.py(0) + 48);
  unitAxes(svg, plot, "mean predicted P(outcome 1)", "observed rate of outcome 1");
  long largest = 0;
  for (const CalibrationBin &bin : bins)
    largest = std::max(largest, bin.subjects);
  // A line across an empty bin would join rates that no subject links, and read as a swing.
  std::ostringstream line;
  for (std::size_t b = 1; b < bins.size(); ++b) {
    if (bins[b - 1].subjects == 0 || bins[b].subjects == 0)
      continue;
    line << (line.tellp() == 0 ? "" : " ") << "M" << coordinate(plot.px(bins[b - 1].meanPredicted))
         << "," << coordinate(plot.py(bins[b - 1].observed)) << " L"
         << coordinate(plot.px(bins[b].meanPredicted)) << ","
         << coordinate(plot.py(bins[b].observed));
  }
  if (line.tellp() > 0)
    svg << "<path fill=\"none\" stroke=\"#3b528b\" stroke-width=\"1.5\" d=\"" << line.str()
        << "\"/>\n";
  for (const CalibrationBin &bin : bins) {
    if (bin.subjects == 0)
      continue;
    svg << "<circle cx=\"" << coordinate(plot.px(bin.meanPredicted)) << "\" cy=\""
        << coordinate(plot.py(bin.observed)) << "\" r=\""
        << coordinate(calibrationRadius(bin.subjects, largest))
        << "\" fill=\"#3b528b\" fill-opacity=\"0.7\"><title>" << bin.subjects
        << " subjects: mean predicted " << fixedText(bin.meanPredicted, 3) << ", observed "
        << fixedText(bin.observed, 3) << "</title></circle>\n";
  }
  svg << "</svg>\n";
  return svg.str();
}
