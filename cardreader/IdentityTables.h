// The code tables of the identity cards: sex codes, the 59 nationality entries of the resident
// card, and the 239 three-letter country codes with their Chinese names.
#pragma once

namespace cardgate {

// The text for a sex code ("0", "1", "2", "9"), or "" for any other.
const char* SexText(const char* code);

// The nationality entry for `number` (0..58), or null for a number outside the table.
const char* NationEntry(int number);

// The Chinese name of the first country whose code equals the first three characters of
// `code`, or null.
const char* CountryName(const char* code);

}  // namespace cardgate
