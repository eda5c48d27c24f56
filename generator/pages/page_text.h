// Text helpers of the page generators: characters and upper case on Unicode
// code points, URL and anchor forms of catalogue values, and the check that
// keeps page files made from catalogue values inside the output folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quill::pages {

// The n-th character (0-based) of a UTF-8 text in upper case; empty when the
// text is shorter. Works on code points ("é" gives "É").
std::string upperCharacter(std::string_view utf8, size_t n);

// Percent-encodes everything but the unreserved characters A-Z a-z 0-9 - . _ ~
// so the result is a relative link to a file of exactly that name.
std::string urlEncode(std::string_view text);

// An HTML id for a letter: "L" followed by the hexadecimal code point of each
// character, joined by "-" ("A" gives "L41", "あ" gives "L3042").
std::string letterId(std::string_view letter);

// Why a catalogue value cannot be part of a page file name, or nothing when
// it can. Refused: path separators, control characters, "." and "..", and,
// unless allowEmpty, a name that is empty or blank.
std::optional<std::string_view> pageNameProblem(std::string_view name, bool allowEmpty);

}  // namespace quill::pages
