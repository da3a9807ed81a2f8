// TextFormat: number and text formatting shared by the result-folder writers.
//
// Numbers are written with a '.' decimal point whatever the process locale
// is. Text from the user (the job name) is repaired, never trusted: invalid
// UTF-8 becomes U+FFFD (colour::ForEachCodePoint's rule, see colour/Utf8.h)
// and each format's special characters are escaped or replaced, so a hostile
// name cannot break a file's syntax.
//
// Threads: pure functions; safe from any thread.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace vantorel::exporter {

// `value` with exactly `decimals` digits after the point (0..12), e.g.
// FormatFixed(0.5, 3) == "0.500". A result that rounds to zero carries no
// minus sign. Empty for NaN and infinities.
std::string FormatFixed(double value, int decimals);

// `text` as XML 1.0 character data or attribute value: valid UTF-8, the five
// markup characters as entities, and the characters XML 1.0 forbids (C0
// controls other than tab, line feed and carriage return; U+FFFE, U+FFFF)
// replaced by U+FFFD.
std::string XmlEscape(std::string_view text);

// `text` as one CSV field (RFC 4180): valid UTF-8, enclosed in double quotes
// with its quotes doubled when it holds a comma, a quote, CR or LF, as it
// is otherwise.
std::string CsvField(std::string_view text);

// `text` fit for a quoted CGATS keyword value: valid UTF-8, double quotes
// replaced by single quotes and every control character by a space.
std::string CgatsText(std::string_view text);

// The time as UTC in ISO 8601 with seconds, e.g. "2024-05-01T12:30:00Z".
std::string IsoUtcTime(std::chrono::system_clock::time_point time);

}  // namespace vantorel::exporter
