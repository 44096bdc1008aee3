// SPDX-License-Identifier: MIT
#pragma once
// How one stored scan becomes rows of the central store: the bench's local time stamp as an
// instant, a reading text as a number, the scaled value and the unit.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kalivor::central {

// "yyyy/MM/dd hh:mm:ss[:mmm]" in this machine's local time -> "YYYY-MM-DD hh:mm:ss.mmm+00" (UTC),
// or nullopt for a text that is no time stamp. In the hour a clock change skips or repeats, the
// offset is the one the C library gives for that hour.
std::optional<std::string> utcTimestamp(std::string_view stamp);

// A reading text as a number: the whole text (blanks around it allowed) must be one; blank or
// other text is no number. Infinite values are no number either (the column would hold them, but
// no chart or average can use them).
std::optional<double> readingValue(std::string_view raw);

// A reading text that stands for no reading (" " or empty).
bool isBlankReading(std::string_view raw);

// The unit of a channel's readings: its own label where it has one, else the unit of its
// function's display name ("DCV" -> "V"), else nothing.
std::optional<std::string> readingUnit(std::string_view function, std::string_view unitLabel);

// Numbers as PostgreSQL reads them back unchanged (shortest round-trip form).
std::string exactNumberText(double v);

}  // namespace kalivor::central
