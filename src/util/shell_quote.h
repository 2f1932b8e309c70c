#pragma once
// Words for a POSIX shell: in batch scripts the tools write and in command lines they show.
#include <string>

// `text` in single quotes, each quote inside written as '\''.
std::string shellQuoted(const std::string &text);

// `text` as it stands when the shell would read it as one plain word, else shellQuoted.
std::string shellWord(const std::string &text);
