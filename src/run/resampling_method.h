#pragma once
// The resampling methods: the method and size arguments checked, and the subjects each
// iteration draws (jackknife: all but one; bootstrap: with replacement from the seeded rand()).
#include <string>
#include <vector>

// Uniform random integer in 0 .. n-1 drawn from the C library's rand(), so that runs seeded
// with srand(0) reproduce. The divisor is one less than RAND_MAX, so the quotient may slightly
// exceed 1; the result is clamped into range.
int unif(int n);

constexpr int kJackknife = 1;
constexpr int kBootstrap = 2;

// Subject positions of iteration `iteration`: jackknife leaves out that position, bootstrap
// draws `subjects` positions with replacement via unif(), in draw order.
void chooseSubjects(std::vector<int> &chosen, int method, int subjects, int iteration);

// The choices of iterations 0 .. last-1 in iteration order, so that the bootstrap's draws
// come out of rand() in the order of a sequential run; only [first, last) are kept (the others
// are left empty).
void chooseAllSubjects(std::vector<std::vector<int>> &chosen, int method, int subjects, int first,
                       int last);

// The method argument: 1 or 2 when the text is exactly "1" or "2", else 0 (unknown: "1abc" and
// "1.9" must not run a jackknife).
int methodOfArgument(const std::string &text);

// The resampling size: a whole decimal number 0 .. 2147483647, digits only. Returns "" and sets
// `size`, or a message naming the argument.
std::string parseResamplingSize(const std::string &text, int &size);

// Refusal of a run the resampling cannot make, naming the list: no subject or no iteration, or
// a jackknife of one subject (its only iteration would have no case). "" otherwise.
std::string resamplingPlanProblem(int method, long subjects, int iterations,
                                  const std::string &listPath);
