#include "run/ensemble.h"
#include "results/result_transaction.h"
#include "run/label_vote.h"
#include "run/model_groups.h"
#include "run/resampling_method.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "bn/bn.h"
#include "bn/dag.h"
#include "data/decoded_study.h"
#include "data/img_io.h"
#include "data/samples.h"
#include "data/study_reader.h"
#include "data/study_view.h"
#include "util/fatal.h"
#include "util/stop_signal.h"

namespace {

[[noreturn]] void fail(const std::string &message) {
  torva::exitWithMessage(torva::kExitInputError, stderr, message);
}

// Geometry of the result images: the first subject's stored NIfTI-1 geometry when it matches
// the study's extents, so the maps overlay the template the subjects were registered to;
// otherwise 1 mm voxels without orientation.
ImageGeometry studyGeometry(const FileList &list, int x, int y, int z) {
  ImageGeometry geometry = defaultGeometry(1.0f, 1.0f, 1.0f);
  if (!list.subjects.empty())
    readImageGeometry(list.subjects.front().path, x, y, z, geometry);
  return geometry;
}

// Votes of every member's label field, each translated to the mode's region numbers.
void collectVotes(const std::vector<ModelRecord> &records, const std::vector<LabelRuns> &labels,
                  const ModelRecord &mode, const std::vector<int> &members, long voxels,
                  VoteTable &table) {
  table.reset(std::clamp(mode[1], 0, kModelRecordIds), voxels);
  std::vector<int> toMode;
  for (const int member : members) {
    torva::endIfStopRequested(); // a 1 mm label field takes a while to decode and count
    const ModelRecord *record = recordOfIteration(records, member);
    if (record == nullptr || !regionTranslation(*record, mode, toMode))
      fail("iteration " + std::to_string(member) + " does not hold the most frequent model\n");
    if (member < 0 || static_cast<std::size_t>(member) >= labels.size())
      fail("iteration " + std::to_string(member) + " has no label field\n");
    const std::string error = addVotes(member, labels[member], toMode, table);
    if (!error.empty())
      fail(error);
  }
}

// The network writers report a failure without stopping; the transaction's check of every
// staged file catches a network file that is missing or empty.
void writeNetworkFiles(const BN &bn, ResultTransaction &results) {
  bn.toFileBNT(results.stagedPath("bn.el.torva").c_str());
  bn.toFileXDSL(results.stagedPath("bn.el.xdsl").c_str());
}

// Each result of a 1 mm run takes a while to make and write; a stop is looked for between them.
void writeStagedText(ResultTransaction &results, const std::string &name, const std::string &text) {
  torva::endIfStopRequested();
  writeResultText(results.stagedPath(name, static_cast<long long>(text.size())), text);
}

} // namespace

void finalNetworkNodes(const ModelRecord &mode, long nodes, std::vector<int> &chosen) {
  chosen.clear();
  for (int i = 0; i < mode[1] && i < kModelRecordIds; ++i)
    chosen.push_back(mode[2 + i] - 1);
  chosen.push_back(static_cast<int>(nodes - 1));
}

// Structure: voxel nodes 0 .. k-1 are the parents of the function variable k. Tables:
// P(x = s | pa = j) = (N(j, s) + 1) / sum_t (N(j, t) + 1).
void fitFinalNetwork(BN &bn, const Samples &data) {
  long nodeCount = 0;
  long cases = 0;
  data.getSize(nodeCount, cases);
  const int n = static_cast<int>(nodeCount);
  Dag dag(n);
  for (int i = 0; i + 1 < n; ++i)
    dag.set(i, n - 1, 1);
  std::vector<int> ns;
  data.getNs(ns);
  bn.setSize(n, ns);
  bn.setDag(dag);
  bn.getSuffStat(data);
  bn.paramLearning(data);
}

std::string variableLogText(const Samples &data, const std::vector<int> &chosen) {
  long nodeCount = 0;
  long cases = 0;
  data.getSize(nodeCount, cases);
  std::string text = "Variable_list\n";
  text.reserve(text.size() + chosen.size() * (2 * cases + 16) + 64);
  for (std::size_t k = 0; k < chosen.size(); ++k) {
    text += k + 1 == chosen.size() ? std::string("fv") : std::to_string(chosen[k]);
    text += "\n";
    for (long c = 0; c < cases; ++c) {
      text.push_back(data.cell(c, static_cast<long>(k)));
      text.push_back(' ');
    }
    text += "\n";
  }
  text += "R-SET\n";
  const std::size_t regions = chosen.empty() ? 0 : chosen.size() - 1;
  text += std::to_string(regions) + " ";
  for (std::size_t k = 0; k < regions; ++k)
    text += std::to_string(chosen[k]) + " ";
  text += "\n";
  return text;
}

void writeResultText(const std::string &path, const std::string &text) {
  std::FILE *out = std::fopen(path.c_str(), "wb");
  if (out == nullptr)
    fail("cannot create the result file " + path + "\n");
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (std::fclose(out) != 0 || !written)
    fail("cannot write the result file " + path + "\n");
}

void writeHeldOutFiles(const HeldOutRun &heldOut, int iterations, const DecodedStudy &study,
                       ResultTransaction &results) {
  const FileList &list = study.list;
  const int subjects = static_cast<int>(list.subjects.size());
  std::vector<SubjectPrediction> means;
  meanPredictions(heldOut.predictions, subjects, means);
  std::vector<int> outcomes;
  for (const SubjectEntry &subject : list.subjects)
    outcomes.push_back(static_cast<int>(subject.fv));
  std::vector<long> volumes;
  lesionVolumes(study.subjects, list.nodeCount - 1, volumes);
  const PredictionSummary summary = summarisePredictions(means, outcomes, volumes);
  writeStagedText(results, kPredictionFile, predictionTableText(list, means));
  writeStagedText(results, kPredictionSummaryFile,
                  predictionSummaryText(heldOut.method == kBootstrap ? "bootstrap" : "jackknife",
                                        iterations, subjects, summary));
}

void runEnsemble(std::vector<ModelRecord> &records, const std::vector<LabelRuns> &labelFields,
                 int iterations, const DecodedStudy &study, const std::string &listPath,
                 long voxels, BN &bn, ResultTransaction &results, const HeldOutRun &heldOut) {
  if (records.empty() || iterations < 1)
    fail("no model to summarise: the run made no iteration (file list " + listPath + ")\n");
  if (const std::string problem = results.open(); !problem.empty())
    fail(problem);

  ModelTable table;
  groupModels(records, table);
  printModels(table);
  const int best = modelMode(table.modelFreqs);
  const int modeId = table.modelIds[best];
  const ModelRecord mode = *recordOfIteration(records, modeId);
  std::vector<int> members;
  modeMembers(records, mode, members);
  printModeMembers(modeId, members);
  writeStagedText(results, "model.el.torva", modelFileText(table, best, iterations));

  // The full data set: every subject in list order, from the run's decoded study.
  const FileList &list = study.list;
  for (const SubjectEntry &subject : list.subjects)
    std::printf("subject %d, file=%s, fv=%d\n", static_cast<int>(subject.id), subject.path.c_str(),
                static_cast<int>(subject.fv));
  std::vector<int> everyone(list.subjects.size());
  for (std::size_t k = 0; k < everyone.size(); ++k)
    everyone[k] = static_cast<int>(k);
  const StudyView full(study.subjects, everyone, list.x, list.y, list.z);
  if (voxels != full.voxels())
    fail("file list " + listPath + " describes " + std::to_string(list.x) + " x " +
         std::to_string(list.y) + " x " + std::to_string(list.z) +
         " voxels, but the iteration label fields hold " + std::to_string(voxels) + "\n");

  std::vector<int> chosen;
  finalNetworkNodes(mode, list.nodeCount, chosen);
  {
    Samples data;
    full.subset(data, chosen);
    fitFinalNetwork(bn, data);
    writeNetworkFiles(bn, results);
    writeStagedText(results, "log.el.torva", variableLogText(data, chosen));
  }

  VoteTable votes;
  collectVotes(records, labelFields, mode, members, voxels, votes);
  std::vector<int> labels;
  std::vector<int> frequencies;
  consensusLabels(votes, static_cast<int>(members.size()), labels, frequencies);
  votes.counters = std::vector<int>();
  writeStagedText(results, "roi.el.torva", roiFileText(mode[1], labels));
  torva::endIfStopRequested();
  writeResultImages(labels, frequencies, list.x, list.y, list.z,
                    studyGeometry(list, list.x, list.y, list.z), results);
  writeHeldOutFiles(heldOut, iterations, study, results);

  if (const std::string problem = results.commit(); !problem.empty())
    fail(problem);
  records.clear();
}
