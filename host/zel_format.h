#pragma once
// How values and texts are shown to a person: numbers no longer than the drive can tell
// apart, and texts that never carry raw bytes to a terminal.

#include <string>
#include <string_view>

// The shortest decimal that lies within half a step of `value`, where `step` is the
// resolution at which the drive holds it (an 8 A limit kept in converter counts shows as
// "8", not "8.00006"). A step that is not above 0 or not finite gives the shortest decimal
// that reads back as the same double. Only for display: files keep full precision.
std::string ZelFormatValue(double value, double step);

// `value` written as printf's "%.*g" writes it with `precision` significant digits, into
// [first, last), which holds 32 characters at least; the end of what was written. For the
// many numbers of a plot's or a log's text: a number that %g writes without an exponent
// takes a few integer operations, others the library's general conversion.
char* ZelPutGeneral(char* first, char* last, double value, int precision);

// The step of a figure measured or computed from a run where nothing finer is known: four
// significant digits, as the test commands print their figures. 0 for 0 or a value that is
// not finite.
double ZelFigureStep(double value);

// The text with every byte that is not part of valid UTF-8 (and every control character
// other than tab and newline) written as \xHH, and every character that reorders the text
// around it on a screen (the bidirectional controls: U+202E would show "exe.txt" for
// "txt.exe") as \u{HHHH}.
std::string ZelEscapeText(std::string_view text);

// Whether `text` is valid UTF-8 throughout.
bool ZelIsUtf8(std::string_view text);

// A CSV column's header, the same in every file the program writes: "Name [unit]", or the
// name alone without a unit; quoted where it holds a comma or a quote.
std::string ZelCsvHeader(std::string_view name, std::string_view unit);

// The text for HTML, SVG or XML content and attribute values: < > & " as entities.
std::string ZelEscapeMarkup(std::string_view text);
