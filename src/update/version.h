#pragma once
// The program's own version and how published version texts are read.
#include <string>
#include <string_view>

namespace quarno::update {

// "1.06": the project version of the build, shown by the initialization
// window and compared with the published one.
const char* ProgramVersion();

// The leading decimal number of a text ("8.34", "9.12abc" -> 9.12), after
// leading blanks; 0 when the text does not start with one. Only digits and one
// point count, so texts like "inf", "nan" or "0x20" never read as versions.
double LeadingNumber(std::string_view text);

// Whether a published version text may become part of a file name and a URL:
// 1 to 32 characters of letters, digits, '.', '-', '_', starting with a digit.
bool IsSafeVersionText(std::string_view text);

}  // namespace quarno::update
