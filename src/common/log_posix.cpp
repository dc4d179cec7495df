// The log in a build without Windows: the launcher keeps no log there; the process id is the
// system's.
#include <unistd.h>

#include "common/log.h"

namespace zv {

std::unique_ptr<LogSink> OpenLauncherLog() { return nullptr; }

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace zv
