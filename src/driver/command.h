#pragma once
// Start-up of the command: argument check, usage text, method heading, list head.

// Prints the usage text to standard output.
void printUsage();

// Reads the subject count K and node count n from the head of the file list (the words before
// them are skipped unchecked). False when the head cannot be read.
bool readListHead(const char *listPath, long &subjects, long &nodes);
