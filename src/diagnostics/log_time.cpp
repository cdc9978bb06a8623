#include "kqbridge/logger.h"
#include "kqbridge/utils.h"

namespace bg {

const char* logTimeStr(Interface* cd) {
  static const char kFormat[] = "%Y-%m-%d %H:%M:%S";
  return cd->m_utils != nullptr ? cd->m_utils->getTimeStr(kFormat) : getTimeStr(kFormat);
}

}  // namespace bg
