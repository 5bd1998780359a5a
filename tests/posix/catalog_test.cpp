// The message catalogs against texts.h: under a Japanese locale every text
// comes back byte for byte as the Windows program has it; elsewhere, the
// English message id. Run with LC_ALL set by the test.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "posix/language.h"
#include "ui/surface.h"

namespace {

TEST(Catalog, EveryTextInTheLocalesLanguage) {
  InitLanguage(KORMELDE_BUILD_LOCALEDIR);
  std::string locale = setlocale(LC_MESSAGES, nullptr);
  bool japanese = locale.rfind("ja", 0) == 0;
  ASSERT_TRUE(japanese || locale == "C" || locale.rfind("en", 0) == 0) << locale;
  for (size_t i = 0; i < kCatalogSize; i++) {
    const CatalogEntry &e = kCatalog[i];
    EXPECT_STREQ(SurfaceText(e.japanese), japanese ? e.japanese : e.english) << e.english;
  }
  EXPECT_STREQ(SurfaceText("not a text of texts.h"), "not a text of texts.h");
}

} // namespace
