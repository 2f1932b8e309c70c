#pragma once
// Measures on node patterns (one node's cells over all cases, stored as '0' + state). The cells
// of both patterns carry the same '0' offset, so cell differences are state differences.

// Sum over the n cells of |cell - '0'|: the sum of the states, for two-state data the number of
// cases in state 1.
int vector_norm(const char *pattern, int n);

// (sum_i |a[i] - b[i]|) / n in extended precision; exactly 0 when the patterns are equal.
long double hamming_dis(const char *a, const char *b, int n);

// 1 when sum_i |a[i] - b[i]| > th, else 0.
int hamming_threshold(const char *a, const char *b, int n, int th);
