#include "common/LanguageFallback.h"

#include <algorithm>

namespace {

constexpr unsigned kLangChinese = 0x04;
constexpr unsigned kSubLangDefault = 0x01;

// Chinese sublanguages written in traditional characters: Taiwan (1),
// Hong Kong (3), Macau (5) and the neutral "zh-Hant" (0x1F).
bool IsTraditionalChinese(unsigned langId) {
  const unsigned sub = SubLanguageOf(langId);
  return sub == 0x01 || sub == 0x03 || sub == 0x05 || sub == 0x1F;
}

// Ids of one primary language that share a script: only Chinese splits.
bool SameScript(unsigned a, unsigned b) {
  if (PrimaryLanguageOf(a) != kLangChinese) return true;
  return IsTraditionalChinese(a) == IsTraditionalChinese(b);
}

}  // namespace

unsigned PrimaryLanguageOf(unsigned langId) { return langId & 0x3FF; }
unsigned SubLanguageOf(unsigned langId) { return (langId >> 10) & 0x3F; }

unsigned ChooseListedLanguage(unsigned langId, const std::vector<unsigned>& listed) {
  if (langId == 0) return 0;
  if (std::find(listed.begin(), listed.end(), langId) != listed.end()) return langId;
  unsigned best = 0;
  int bestRank = -1;
  for (unsigned candidate : listed) {
    if (candidate == 0 || PrimaryLanguageOf(candidate) != PrimaryLanguageOf(langId)) continue;
    // Same script counts most, then the default sublanguage; ties go to the lowest id.
    const int rank = (SameScript(langId, candidate) ? 2 : 0) + (SubLanguageOf(candidate) == kSubLangDefault ? 1 : 0);
    if (rank > bestRank || (rank == bestRank && candidate < best)) {
      best = candidate;
      bestRank = rank;
    }
  }
  return best;
}

unsigned ParseLanguageId(const std::wstring& text) {
  if (text.empty() || text.size() > 5) return 0;
  unsigned value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return 0;
    value = value * 10 + static_cast<unsigned>(c - L'0');
  }
  return value <= 0xFFFF ? value : 0;
}
