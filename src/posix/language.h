// The Linux program's texts in the user's language, through gettext: English
// message ids, po/<language>.po catalogs compiled at build time.
#pragma once

#include <cstddef>

#define KORMELDE_DOMAIN "kormelde"

struct CatalogEntry {
  const char *japanese; // the text of texts.h
  const char *english;  // its message id
};
extern const CatalogEntry kCatalog[];
extern const size_t kCatalogSize;

// Takes the locale from the environment and the catalogs from locale_dir,
// or else from beside the program or under the install prefix; from then on
// SurfaceText gives each text of texts.h in the locale's language.
void InitLanguage(const char *locale_dir = nullptr);
