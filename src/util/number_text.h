#pragma once
// Numbers of the text files the program reads back: a token is a number only as a whole.
#include <string>

// `token` as a base-10 integer; false on trailing characters or a value outside long.
bool wholeNumberOf(const std::string &token, long &value);

// `token` as a double in strtod's syntax; false when anything of it is left over.
bool numberOf(const std::string &token, double &value);
