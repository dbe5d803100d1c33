// POSIX error texts: strerror in the user's LC_MESSAGES locale.
#include <string.h>

#include "platform/common-posix.h"
#include "platform/messages.h"

const std::u16string_view kManualPointer =
    u"Read more in its manual page: man treemeter (in the source: man/treemeter.1).";

std::u16string systemMessageText(std::uint32_t errorCode) {
  // Read from the environment once; never changed after.
  static const locale_t messageLocale = userLocale(LC_MESSAGES_MASK);
  auto code = static_cast<int>(errorCode);
#ifdef __GLIBC__
  // glibc names every code it has a message for; the others would read "Unknown error".
  if (!strerrorname_np(code)) return {};
#endif
  const char* message = strerror_l(code, messageLocale);
  const auto* bytes = reinterpret_cast<const unsigned char*>(message);
  return std::u16string(bytes, bytes + strlen(message));
}
