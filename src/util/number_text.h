#pragma once
// Numbers of the text files the program reads back: a token is a number only as a whole.
#include <string>

// `token` as a double in strtod's syntax; false when anything of it is left over.
bool numberOf(const std::string &token, double &value);
