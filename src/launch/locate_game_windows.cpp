#include "launch/process_paths.h"
#include "launch/target_discovery.h"

namespace zv {

LaunchResult LocateGame(GameLocation& location) { return LocateGame(GetModulePath(), location); }

}  // namespace zv
