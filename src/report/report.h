#pragma once
// torvacoreel-report: reads a finished run's result folder and writes regions.csv, axial.png,
// frequency.png and report.html into the output folder, and gain.png when the folder holds the
// permutation maps.
#include <string>
#include <vector>

struct ReportOptions {
  std::string results = ".";
  std::string out = "report";
  std::string study;                    // file list, "" without
  std::string background;               // template image, "" without
  std::string atlas;                    // integer label image, "" without
  std::string atlasLabels;              // names of the atlas labels, "" for their indices
  std::vector<std::string> commandLine; // as typed, for the page
  bool help = false;                    // -h or --help: nothing else is read
  bool version = false;                 // --version: nothing else is read
};

// Parses the arguments after the program name; an error for the usage line otherwise.
std::string parseReportOptions(const std::vector<std::string> &args, ReportOptions &options);

// Writes the report. `table` receives the aligned region table (or the note that there is none)
// for the terminal. Returns an error naming the file at fault, or an empty string.
std::string writeReport(const ReportOptions &options, std::string &table);

extern const char *const kReportUsage;

// The usage and one line per option, for --help.
std::string reportHelp();
