#include "unzip/ArchiveHandles.h"

namespace tandor {

Utf8ThreadLocale::Utf8ThreadLocale() {
  mLocale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (mLocale) mPrevious = uselocale(mLocale);
}

Utf8ThreadLocale::~Utf8ThreadLocale() {
  if (!mLocale) return;
  uselocale(mPrevious);
  freelocale(mLocale);
}

}  // namespace tandor
