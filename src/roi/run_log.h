#pragma once
// The run log "log.torva": started afresh by every region-learner call once its candidate set
// is ready, appended to per search round (the segmentation appends its own line in between)
// and closed by the representative patterns. Best effort: a log that cannot be opened drops
// its lines silently, the analysis goes on. On a worker thread the log is its iteration's
// buffer (util/progress.h).
#include <iosfwd>
#include <vector>

class Samples;

constexpr const char *kRunLogFile = "log.torva";

// "TORVA Log", then "sample_length " and the case count.
void startRunLog(long cases);

// "N=" round, then "RId= " id ", K2 Diff= " gain ", K2= " score.
void appendRoundRecord(int round, int id, double gain, double score);

// "RV", k + 1, then per representative "RId= " id and its pattern line, then "fv" and the
// pattern line of the function variable. `finalMatrix` holds the representatives' columns in
// order, then the function variable's.
void appendClosingBlock(const std::vector<int> &representatives, const Samples &finalMatrix);

// Every cell of the pattern as its character followed by one blank, then a newline.
void writePatternLine(std::ostream &out, const char *pattern, long cases);
