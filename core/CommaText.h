#pragma once

// Comma text: a list of fields in one line, as the class library's string
// lists read and write it. Fields are separated by commas, and a blank (any
// character up to the space) outside double quotes separates as well. A field
// that holds such a character, a comma or a double quote is written in double
// quotes, each double quote inside doubled. The bookmark file's lines and the
// value records of the .reg file view are kept in this form.

#include <span>
#include <string>
#include <string_view>
#include <vector>

// The fields joined. A list of one empty field gives "" (two quotes), so that
// it reads back as one field and not as none.
std::u16string JoinCommaText(std::span<const std::u16string> fields);

// The fields of a comma text. Blanks around fields are skipped; a comma at the
// very end gives an empty last field; a quoted field without its closing quote
// runs to the end of the text; what follows a closing quote up to the next
// separator is a field of its own. Reads back exactly what JoinCommaText wrote.
std::vector<std::u16string> SplitCommaText(std::u16string_view text);
