// Fixes the interface language for one test and restores the environment's
// choice afterwards.
#pragma once

#include "msg/StringTable.h"

class LanguageScope {
  public:
    explicit LanguageScope(Language language) { SetUiLanguage(language); }
    ~LanguageScope() { ResetUiLanguage(); }
    LanguageScope(const LanguageScope&) = delete;
    LanguageScope& operator=(const LanguageScope&) = delete;
};
