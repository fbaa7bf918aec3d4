#include "common/LanguagePlatform.h"

ILanguagePlatform& GetDefaultLanguagePlatform() {
  static CStaticLanguagePlatform platform;
  return platform;
}
