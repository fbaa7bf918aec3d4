// Which listed language stands in for a user UI language id that the
// settings' language table does not list exactly.
#pragma once

#include <string>
#include <vector>

// A Windows language id: primary language in the low 10 bits, sublanguage
// in the high 6.
unsigned PrimaryLanguageOf(unsigned langId);
unsigned SubLanguageOf(unsigned langId);

// The listed id that serves `langId`: the id itself when listed; otherwise a
// listed id of the same primary language, preferring one written in the same
// script (Chinese of Hong Kong, Macau and Taiwan and "zh-Hant" read the
// traditional characters, the others the simplified ones), then the
// primary language's default sublanguage, then the lowest id. 0 when no
// listed id shares the primary language (the caller then uses English).
unsigned ChooseListedLanguage(unsigned langId, const std::vector<unsigned>& listed);

// Decimal language id text ("3076") as a number; 0 for anything that is not
// a decimal number in the 16-bit range.
unsigned ParseLanguageId(const std::wstring& text);
