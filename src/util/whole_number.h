#pragma once
// Whole numbers written as decimal text: the one parser behind every count, id and setting the
// commands read, so that all of them refuse the same things (an empty text, a stray character,
// a value beyond its range).
#include <string_view>

enum class WholeNumber { Ok, NotWhole, OutOfRange };

// One or more decimal digits and nothing else (no blank, no sign), into `value` when it is at
// most `most`. Leading zeros count as digits: callers that cap the length see them.
WholeNumber parseDigits(std::string_view text, unsigned long long most, unsigned long long &value);

// An optional sign and one or more decimal digits, nothing else, into `value` when it lies in
// [least, most]. A text that is no whole number is NotWhole even when its digits overflow.
WholeNumber parseWholeNumber(std::string_view text, long long least, long long most,
                             long long &value);

// A table cell or file token as a long: leading blanks (as a quoted cell may carry), then
// parseWholeNumber's form. False for an empty or blank text.
bool wholeNumberOf(std::string_view text, long &value);
