// The report page in a real browser: headless Chromium lays out a copy of report.html that
// carries a small checking script, 1300 pixels wide and offline, and the script writes what it
// measured into the page, which --dump-dom hands back. Any text outside its SVG or its box, two
// texts over each other, a page wider than the window or a table wider than the page outside
// its scrolling frame fails the test.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <nifti1_io.h>

#include "data/decoded_study.h"
#include "report/volume.h"
#include "results/result_files.h"
#include "support/temp_dir.h"

namespace {

using testsupport::readFile;
using testsupport::runCommand;
using testsupport::ScopedTempDir;
using testsupport::writeFile;

const std::string kChromium = "/usr/bin/chromium";
const std::string kOutput = TORVA_TEST_OUTPUT_DIR;
constexpr int kWidth = 1300;

const char *const kCheckScript = R"(<script>
(function () {
  function box(b) { return '(' + [b.x, b.y, b.width, b.height].map(function (v) {
    return v.toFixed(1); }).join(', ') + ')'; }
  function inside(b, outer) {
    return b.x >= outer.x - 0.5 && b.y >= outer.y - 0.5 &&
      b.x + b.width <= outer.x + outer.width + 0.5 && b.y + b.height <= outer.y + outer.height + 0.5;
  }
  function overlap(a, b) {
    return Math.min(a.x + a.width, b.x + b.width) - Math.max(a.x, b.x) > 0.5 &&
      Math.min(a.y + a.height, b.y + b.height) - Math.max(a.y, b.y) > 0.5;
  }
  function check() {
    var problems = [];
    var counts = { svgs: 0, texts: 0, boxed: 0, frames: 0, tables: 0, images: 0, headers: 0 };
    var root = document.documentElement;
    var right = root.clientWidth + 0.5;
    if (root.scrollWidth > root.clientWidth)
      problems.push('page: scrollWidth ' + root.scrollWidth + ' > clientWidth ' + root.clientWidth);
    var scrolling = document.scrollingElement;
    if (scrolling.scrollWidth > window.innerWidth)
      problems.push('page scrolls sideways: scrollWidth ' + scrolling.scrollWidth + ' > window ' +
        window.innerWidth);
    // Each fault once: the outermost element beyond the page, and the element whose own text
    // spills out of its box.
    var beyond = new Set();
    document.querySelectorAll('body *').forEach(function (e) {
      if (e.closest('.frame') || e.closest('svg') || e.id === 'layout-check') return;
      var r = e.getBoundingClientRect();
      var what = e.tagName.toLowerCase() + ' "' + e.textContent.slice(0, 40) + '"';
      if (r.width > 0 && r.right > right) {
        beyond.add(e);
        if (!beyond.has(e.parentElement))
          problems.push(what + ' ends at ' + r.right.toFixed(0) + ' beyond the page');
      }
      var ownText = Array.prototype.some.call(e.childNodes, function (n) {
        return n.nodeType === Node.TEXT_NODE && n.textContent.trim() !== ''; });
      if (ownText && e.clientWidth > 0 && e.scrollWidth > e.clientWidth + 1 &&
          getComputedStyle(e).overflowX === 'visible')
        problems.push(what + ' spills out of its box: ' + e.scrollWidth + ' wide in ' +
          e.clientWidth);
    });
    document.querySelectorAll('th').forEach(function (th) {
      ++counts.headers;
      var text = document.createRange();
      text.selectNodeContents(th);
      if (th.scrollWidth > th.clientWidth + 1 || text.getClientRects().length > 1)
        problems.push('header "' + th.textContent + '" is cut off or broken over lines');
    });
    document.querySelectorAll('svg').forEach(function (svg, n) {
      ++counts.svgs;
      var whole = { x: 0, y: 0, width: svg.width.baseVal.value, height: svg.height.baseVal.value };
      if (!svg.closest('.frame') && svg.getBoundingClientRect().right > right)
        problems.push('svg ' + n + ' ends beyond the page');
      var texts = Array.prototype.slice.call(svg.querySelectorAll('text'));
      var boxes = texts.map(function (t) { return t.getBBox(); });
      texts.forEach(function (t, i) {
        ++counts.texts;
        var what = 'svg ' + n + ' text "' + t.textContent + '" ' + box(boxes[i]);
        if (!(boxes[i].width > 0)) problems.push(what + ' has no width');
        if (!inside(boxes[i], whole)) problems.push(what + ' outside its svg ' + box(whole));
        var g = t.closest('g.box');
        if (g) {
          ++counts.boxed;
          var rect = g.querySelector('rect').getBBox();
          if (!inside(boxes[i], rect)) problems.push(what + ' overflows its box ' + box(rect));
        }
        for (var j = 0; j < i; ++j)
          if (overlap(boxes[i], boxes[j]))
            problems.push(what + ' overlaps "' + texts[j].textContent + '" ' + box(boxes[j]));
      });
    });
    document.querySelectorAll('.frame').forEach(function (f, n) {
      ++counts.frames;
      if (getComputedStyle(f).overflowX !== 'auto' && f.scrollWidth > f.clientWidth)
        problems.push('frame ' + n + ' is cut off: its content is ' + f.scrollWidth + ' wide');
      if (f.getBoundingClientRect().right > right) problems.push('frame ' + n + ' ends beyond the page');
    });
    document.querySelectorAll('table').forEach(function (t, n) {
      ++counts.tables;
      if (!t.closest('.frame') && t.getBoundingClientRect().right > right)
        problems.push('table ' + n + ' ends at ' + t.getBoundingClientRect().right + ' beyond the page');
    });
    document.querySelectorAll('img').forEach(function (img) {
      ++counts.images;
      if (!img.complete || img.naturalWidth === 0) problems.push('image ' + img.src + ' did not load');
      if (img.getBoundingClientRect().right > right) problems.push('image ' + img.src + ' ends beyond the page');
    });
    var out = document.createElement('pre');
    out.id = 'layout-check';
    out.textContent = 'WINDOW ' + window.innerWidth + '\nCOUNTS ' + JSON.stringify(counts) + '\n' +
      (problems.length ? problems.map(function (p) { return 'PROBLEM ' + p; }).join('\n') : 'LAYOUT-OK');
    document.body.appendChild(out);
  }
  window.addEventListener('load', check);
})();
</script>
)";

// A fresh profile for every start, inside the test's folder so that it goes with it.
std::string chromium(const std::string &arguments) {
  static int starts = 0;
  const std::string profile =
      (std::filesystem::current_path() / ("chromium-profile-" + std::to_string(++starts))).string();
  return kChromium +
         " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
         "--disable-background-networking --disable-component-update --disable-sync "
         "--disable-extensions --force-device-scale-factor=1 "
         "--host-resolver-rules='MAP * ~NOTFOUND' --user-data-dir=" +
         profile + " " + arguments;
}

struct LayoutCheck {
  std::string text; // what the script wrote
  bool ok = false;
};

// Lays out `page` (with the files beside it) in Chromium and returns the script's findings.
LayoutCheck checkLayout(const std::string &page) {
  const std::string harness = std::filesystem::path(page).parent_path() / "layout_check.html";
  std::string html = readFile(page);
  html.insert(html.rfind("</body>"), kCheckScript);
  writeFile(harness, html);
  const int status = runCommand(chromium("--window-size=" + std::to_string(kWidth) +
                                         ",1000 --virtual-time-budget=10000 --dump-dom file://" +
                                         std::filesystem::absolute(harness).string()),
                                "dom.txt", "chromium.err");
  LayoutCheck check;
  const std::string dom = readFile("dom.txt");
  const auto begin = dom.find("<pre id=\"layout-check\">");
  if (status != 0 || begin == std::string::npos) {
    check.text = "no result from chromium (status " + std::to_string(status) +
                 "): " + readFile("chromium.err");
    return check;
  }
  check.text = dom.substr(begin, dom.find("</pre>", begin) - begin);
  check.ok = check.text.find("LAYOUT-OK") != std::string::npos &&
             check.text.find("PROBLEM") == std::string::npos &&
             check.text.find("WINDOW " + std::to_string(kWidth)) != std::string::npos;
  return check;
}

// The number after `"name":` in the script's counts.
long countIn(const LayoutCheck &check, const std::string &name) {
  const std::string key = "&quot;" + name + "&quot;:";
  auto at = check.text.find(key);
  if (at == std::string::npos) {
    at = check.text.find("\"" + name + "\":");
    if (at == std::string::npos)
      return -1;
    return std::stol(check.text.substr(at + name.size() + 3));
  }
  return std::stol(check.text.substr(at + key.size()));
}

void screenshot(const std::string &page, const std::string &png) {
  std::filesystem::create_directories(std::filesystem::path(png).parent_path());
  EXPECT_EQ(runCommand(chromium("--window-size=" + std::to_string(kWidth) +
                                ",6000 --virtual-time-budget=10000 --screenshot=" + png +
                                " file://" + std::filesystem::absolute(page).string()),
                       "shot.out", "shot.err"),
            0)
      << readFile("shot.err");
  EXPECT_TRUE(testsupport::fileExistsOnDisk(png)) << png;
}

// An image of `values` with the header of the result image `like` (so on the results' grid).
void writeLike(const std::string &like, const std::string &path, const std::vector<float> &values) {
  nifti_image *image = nifti_image_read(like.c_str(), 1);
  ASSERT_NE(image, nullptr) << like;
  ASSERT_EQ(image->datatype, DT_FLOAT32);
  ASSERT_EQ(image->nvox, values.size());
  std::copy(values.begin(), values.end(), static_cast<float *>(image->data));
  ASSERT_EQ(nifti_set_filenames(image, path.c_str(), 0, 0), 0);
  nifti_image_write(image);
  nifti_image_free(image);
}

// The atlas names of the pages below: the long names of a real parcellation.
const char *const kAtlasNames = "1\tSuperior temporal gyrus, posterior division\n"
                                "2 Insular cortex\n3\tPrecentral gyrus (left hemisphere)\n";
const char *const kLongAtlasNames =
    "1\tLeft superior temporal gyrus, posterior division, including the planum temporale and "
    "the adjacent supramarginal cortex\n"
    "2 Right insular cortex, anterior short gyri and the frontal operculum of the inferior "
    "frontal gyrus pars opercularis\n"
    "3\tPrecentral gyrus (left hemisphere) of the cortical structural atlas, maximum "
    "probability threshold 25 percent\n";

// Beside the results in `dir`: held-out predictions that follow the outcome, a permutation table
// for the run's regions, gain maps that are significant in region 1, and an atlas of slabs
// (`atlasPath`, names in `labelsPath`), so that every appended column and section is on the page.
void addEvidence(const std::string &dir, const std::string &atlasPath = "atlas.nii",
                 const std::string &labelsPath = "atlas.txt",
                 const std::string &names = kAtlasNames) {
  VariableLog variables;
  std::string text;
  ASSERT_EQ(readResultText(dir + "/log.el.torva", text), "");
  ASSERT_EQ(parseVariableLog(dir + "/log.el.torva", text, variables), "");
  RoiField roi;
  ASSERT_EQ(readResultText(dir + "/roi.el.torva", text), "");
  ASSERT_EQ(parseRoiField(dir + "/roi.el.torva", text, roi), "");
  ASSERT_GT(roi.regions, 0) << "the demo found no region";
  std::string rows = "id\timage\toutcome\theldout\tp_outcome1\n";
  const std::string &outcome = variables.cells.back(); // "fv", one '0' or '1' per subject
  for (std::size_t s = 0; s < outcome.size(); ++s)
    rows += std::to_string(s + 1) + "\timg\t" + outcome[s] + "\t1\t" +
            (outcome[s] == '1' ? "0.7" : "0.3") + std::to_string(s % 10) + "0000\n";
  writeFile(dir + "/prediction.tsv", rows);
  writeFile(dir + "/prediction_summary.tsv",
            "measure\tvalue\nmethod\tjackknife\niterations\t100\nsubjects\t100\npredicted\t100\n"
            "outcome1\t50\nauc\t0.912300\naccuracy\t0.870000\nbalanced_accuracy\t0.865000\n"
            "brier\t0.110000\nlog_loss\t0.380000\nauc_lesion_volume\t0.612300\n"
            "auc_ci_low\t0.861200\nauc_ci_high\t0.963400\nauc_difference\t0.300000\n"
            "auc_difference_ci_low\t0.190100\nauc_difference_ci_high\t0.409900\n"
            "auc_difference_p\t0.000100\n");
  std::string permutation =
      "region\trep_id\tgain\tp_fwe\tnull_mean\tnull_95\tpermutations\tp_fwe_volume\n";
  for (std::size_t r = 0; r < variables.representatives.size(); ++r)
    permutation += std::to_string(r + 1) + "\t" + std::to_string(variables.representatives[r] + 1) +
                   "\t12.500000\t0.000200\t3.100000\t5.900000\t5000\t0.004200\n";
  writeFile(dir + "/torva.configure",
            "a 0 b 0.2 c 1 d 5 e 5 f 3 g -1 h 0 i 0 representativeShare 0.1\n");
  writeFile(dir + "/permutation.tsv", permutation);
  std::vector<float> gain(roi.labels.size(), 0.0f);
  std::vector<float> corrp(roi.labels.size(), 0.0f);
  std::vector<float> atlas(roi.labels.size(), 0.0f);
  for (std::size_t v = 0; v < roi.labels.size(); ++v) {
    gain[v] = static_cast<float>(v % 17);
    corrp[v] = roi.labels[v] == 1 ? 0.99f : 0.5f;
    atlas[v] = static_cast<float>(1 + v % 3);
  }
  const std::string like = dir + "/prob_map_torvael.nii";
  writeLike(like, dir + "/gain_map.nii", gain);
  writeLike(like, dir + "/gain_corrp_map.nii", corrp);
  writeLike(like, atlasPath, atlas);
  writeFile(labelsPath, names);
}

// A folder of `length` characters or more below the working folder, as deep real data live.
std::string longFolder(std::size_t length) {
  std::string path = std::filesystem::current_path().string();
  for (int n = 1; path.size() < length; ++n)
    path += "/derivatives_lesion_masks_registered_to_the_one_millimetre_template_session_" +
            std::to_string(n);
  std::filesystem::create_directories(path);
  return path;
}

// Five regions on the 20 x 24 x 20 grid of the example study, replacing the run's own in
// `dir`: slabs 3 voxels wide side by side, each with its representative at its centre, the
// representatives' states read from the subjects of `list`, the outcome from the run.
void writeFiveRegionRun(const std::string &dir, const std::string &list) {
  constexpr int kRegions = 5;
  VariableLog run;
  std::string text;
  ASSERT_EQ(readResultText(dir + "/log.el.torva", text), "");
  ASSERT_EQ(parseVariableLog(dir + "/log.el.torva", text, run), "");
  DecodedStudy study;
  ASSERT_FALSE(decodeStudy(list, 1, study)) << list;
  const int X = study.list.x;
  const int Y = study.list.y;
  const long voxels = study.list.nodeCount - 1;
  std::vector<int> labels(static_cast<std::size_t>(voxels), 0);
  std::vector<float> frequency(static_cast<std::size_t>(voxels), 0.0f);
  std::string log = "Variable_list\n";
  std::string rset = "R-SET\n" + std::to_string(kRegions);
  for (int r = 1; r <= kRegions; ++r) {
    for (int k = 4 + r; k < 9 + r; ++k)
      for (int j = 6; j < 18; ++j)
        for (int i = 3 * r - 1; i < 3 * r + 2; ++i) {
          const long v = i + static_cast<long>(X) * (j + static_cast<long>(Y) * k);
          labels[v] = r;
          frequency[v] = static_cast<float>(40 + 10 * r + (i + j + k) % 11);
        }
    const long rep = 3 * r + static_cast<long>(X) * (12 + static_cast<long>(Y) * (6 + r));
    std::string states;
    for (long c = 0; c < study.subjects.cases(); ++c)
      states += (study.subjects.node(rep)[c / 64] >> (c % 64)) & 1U ? "1 " : "0 ";
    log += std::to_string(rep) + "\n" + states + "\n";
    rset += " " + std::to_string(rep);
  }
  std::string outcome;
  for (const char state : run.cells.back())
    outcome += std::string(1, state) + " ";
  writeFile(dir + "/log.el.torva", log + "fv\n" + outcome + "\n" + rset + " \n");
  std::string roi = std::to_string(kRegions) + " " + std::to_string(voxels) + "\n";
  for (const int label : labels)
    roi += std::to_string(label) + " ";
  writeFile(dir + "/roi.el.torva", roi + "\n");
  writeFile(dir + "/model.el.torva", "model ensemble includes\n3 \ndifferent models\n"
                                     "model with highest frequency is model \n0 \nfreq=\n"
                                     "0.600000\nmodel freq=\n0.600000 0.300000 0.100000 \n");
  // P(outcome 1) rises by 0.16 with every lesioned representative.
  std::string network = "6\n2 2 2 2 2 2 \n0 \n0 \n0 \n0 \n0 \n5 0 1 2 3 4 \n";
  for (int r = 0; r < kRegions; ++r)
    network += "2 0.6 0.4 \n";
  std::string spared = "64";
  std::string lesioned;
  for (int j = 0; j < 32; ++j) {
    const double p = 0.1 + 0.16 * __builtin_popcount(static_cast<unsigned>(j));
    spared += " " + std::to_string(1.0 - p);
    lesioned += " " + std::to_string(p);
  }
  writeFile(dir + "/bn.el.torva", network + spared + lesioned + " \n");
  writeLike(dir + "/prob_map_torvael.nii", dir + "/prob_map_torvael.nii", frequency);
}

TEST(ReportInBrowser, DemoPageAndPageWithEveryEvidenceColumnFitAt1300Pixels) {
  ASSERT_TRUE(testsupport::fileExistsOnDisk(kChromium))
      << kChromium << " is missing: the browser check needs Debian's chromium (make test-deps)";
  ScopedTempDir dir;
  ASSERT_EQ(runCommand(std::string(MAKE_EXAMPLE_STUDY_PATH) + " --out study --subjects 100"), 0);
  ASSERT_EQ(runCommand(std::string(TORVACOREEL_PATH) + " study/torva.prj.filelist 1 0"), 0)
      << readFile("stderr.txt");
  ASSERT_EQ(runCommand(std::string(TORVACOREEL_REPORT_PATH) +
                       " --study study/torva.prj.filelist --out demo ."),
            0)
      << readFile("stderr.txt");
  const LayoutCheck demo = checkLayout("demo/report.html");
  EXPECT_TRUE(demo.ok) << demo.text;
  EXPECT_GE(countIn(demo, "boxed"), 3) << demo.text; // the region boxes and the outcome's
  EXPECT_GE(countIn(demo, "frames"), 2) << demo.text;
  screenshot("demo/report.html", kOutput + "/report_browser/demo_report.png");

  addEvidence(".");
  ASSERT_EQ(runCommand(std::string(TORVACOREEL_REPORT_PATH) +
                       " --study study/torva.prj.filelist --atlas atlas.nii --atlas-labels "
                       "atlas.txt --out full ."),
            0)
      << readFile("stderr.txt");
  const std::string page = readFile("full/report.html");
  ASSERT_NE(
      page.find(
          "<th>p_fwe</th><th class=\"name\">rep_label</th><th class=\"name\">top_labels</th>"),
      std::string::npos);
  ASSERT_NE(page.find("Held-out prediction"), std::string::npos);
  ASSERT_NE(page.find("gain.png"), std::string::npos);
  // The lesion-size column, the DeLong line and the share, as a run with them writes its files.
  ASSERT_NE(page.find("top_labels</th><th>p_fwe_volume</th>"), std::string::npos);
  ASSERT_NE(page.find("DeLong p &lt; 0.001</p>"), std::string::npos);
  ASSERT_NE(page.find("<th>representativeShare</th><td>0.1</td>"), std::string::npos);
  const LayoutCheck full = checkLayout("full/report.html");
  EXPECT_TRUE(full.ok) << full.text;
  EXPECT_GT(countIn(full, "svgs"), countIn(demo, "svgs")) << full.text; // ROC and calibration
  screenshot("full/report.html", kOutput + "/report_browser/full_report.png");
}

// Real data as users have them: absolute paths of more than 200 characters in every option, an
// atlas with long names, five regions with p_fwe and both atlas columns. The page still fits the
// window: the table scrolls inside its frame and the long paths wrap.
TEST(ReportInBrowser, PageOfLongPathsLongAtlasNamesAndFiveRegionsFitsAt1300Pixels) {
  ASSERT_TRUE(testsupport::fileExistsOnDisk(kChromium)) << kChromium << " is missing";
  ScopedTempDir dir;
  const std::string root = longFolder(200);
  const std::string list = root + "/study/torva.prj.filelist";
  const std::string results = root + "/results";
  ASSERT_GT(list.size(), 200u);
  ASSERT_EQ(
      runCommand(std::string(MAKE_EXAMPLE_STUDY_PATH) + " --out " + root + "/study --subjects 100"),
      0);
  std::filesystem::create_directories(results);
  ASSERT_EQ(runCommand("cd " + results + " && " + TORVACOREEL_PATH + " " + list + " 1 0"), 0)
      << readFile("stderr.txt");
  writeFiveRegionRun(results, list);
  addEvidence(results, root + "/atlas.nii", root + "/atlas_labels.txt", kLongAtlasNames);
  std::vector<float> anatomy(20 * 24 * 20);
  for (std::size_t v = 0; v < anatomy.size(); ++v)
    anatomy[v] = static_cast<float>(v % 20 + (v / 480) * 3);
  writeLike(results + "/prob_map_torvael.nii", root + "/template.nii", anatomy);
  ASSERT_EQ(runCommand(std::string(TORVACOREEL_REPORT_PATH) + " --study " + list +
                       " --background " + root + "/template.nii --atlas " + root +
                       "/atlas.nii --atlas-labels " + root + "/atlas_labels.txt --out " + root +
                       "/report " + results),
            0)
      << readFile("stderr.txt");
  const std::string page = readFile(root + "/report/report.html");
  ASSERT_NE(
      page.find(
          "<th>p_fwe</th><th class=\"name\">rep_label</th><th class=\"name\">top_labels</th>"),
      std::string::npos);
  EXPECT_EQ(testsupport::countOf(page, "<tr><td>"), 5 + 5) << "five regions and five bins";
  EXPECT_NE(page.find("pars opercularis"), std::string::npos);
  const LayoutCheck check = checkLayout(root + "/report/report.html");
  EXPECT_TRUE(check.ok) << check.text;
  EXPECT_GE(countIn(check, "boxed"), 6) << check.text; // five region boxes and the outcome's
  screenshot(root + "/report/report.html", kOutput + "/report_browser/long_paths_report.png");
}

// The check itself finds each kind of fault: a box narrower than its text, captions over each
// other, a table wider than the page outside a frame, a path that spills out of its box and a
// table header broken over two lines.
TEST(ReportInBrowser, CheckFindsOverflowingBoxesOverlapsAndWideTables) {
  ASSERT_TRUE(testsupport::fileExistsOnDisk(kChromium)) << kChromium << " is missing";
  ScopedTempDir dir;
  std::string wide = "<table><tr>";
  for (int c = 0; c < 60; ++c)
    wide += "<td>column_" + std::to_string(c) + "</td>";
  writeFile("bad.html",
            "<!DOCTYPE html><html><body style=\"font-family:sans-serif\">"
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"300\" height=\"100\">"
            "<g class=\"box\"><rect x=\"10\" y=\"10\" width=\"60\" height=\"40\"/>"
            "<text x=\"14\" y=\"30\" font-size=\"12\">P(outcome 1) = 0.514</text></g>"
            "<text x=\"150\" y=\"80\" font-size=\"11\" text-anchor=\"middle\">a long caption</text>"
            "<text x=\"150\" y=\"80\" font-size=\"11\">0.5</text></svg>"
            "<div style=\"width:200px\"><pre>/a/path/without/a/single/blank/in/it/that/"
            "overflows/its/box</pre></div><table><tr><th style=\"width:2em\">observed "
            "rate</th></tr></table>" +
                wide + "</tr></table></body></html>");
  const LayoutCheck check = checkLayout("bad.html");
  EXPECT_FALSE(check.ok);
  EXPECT_NE(check.text.find("overflows its box"), std::string::npos) << check.text;
  EXPECT_NE(check.text.find("overlaps"), std::string::npos) << check.text;
  EXPECT_NE(check.text.find("beyond the page"), std::string::npos) << check.text;
  EXPECT_NE(check.text.find("scrollWidth"), std::string::npos) << check.text;
  EXPECT_NE(check.text.find("pre \"/a/path/without/a/single/blank/in/it/tha\" spills out"),
            std::string::npos)
      << check.text;
  EXPECT_NE(check.text.find("header \"observed rate\" is cut off or broken over lines"),
            std::string::npos)
      << check.text;
}

} // namespace
