// UTF-8 text as characters: what edit limits, carets and length checks count.
//
// Control texts are UTF-8. A limit of 8 is 8 characters, however many bytes
// they take, and no cut ever falls inside a character. Bytes that begin no
// valid sequence (text from a non-UTF-8 source) count as one character each
// and are turned into the Latin-1 character of that value where text is
// typed, so nothing typed is lost and what is stored is valid UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Number of characters.
std::size_t utf8_length(std::string_view text);
// Byte offset of character `index` (the end when the text is shorter).
std::size_t utf8_offset(std::string_view text, std::size_t index);
// The first `count` characters.
std::string_view utf8_prefix(std::string_view text, std::size_t count);
// Valid UTF-8 with every character kept: a byte that begins no valid
// sequence becomes the Latin-1 character of that value.
std::string utf8_sanitize(std::string_view text);
// Decodes one character at `pos` (advanced past it); invalid bytes decode as
// their Latin-1 value.
char32_t utf8_next(std::string_view text, std::size_t& pos);
void utf8_append(std::string& out, char32_t ch);
// True when every byte is printable ASCII (blank to tilde).
bool is_printable_ascii(std::string_view text);

}  // namespace platform
