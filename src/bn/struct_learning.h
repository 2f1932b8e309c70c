#pragma once
// Greedy structure search over all columns of a sample matrix.
#include "bn/bn.h"
#include "data/samples.h"

// Nodes are taken in the matrix's (identity) node order; each child repeatedly gains the
// predecessor whose arc raises its K2 score (prior 1) most, strictly, until none does. Ties go
// to the earliest predecessor. Progress goes to standard output. `result` receives the nodes,
// state counts and learned graph, with zeroed tables.
void struct_learning(BN &result, Samples &data);
