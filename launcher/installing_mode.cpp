#include "launcher/exit_code.h"
#include "launcher/launcher.h"
#include "splash/status_model.h"

// The installation sequence (splash thread, workspace, runtime archive, Java
// search, installer, clean-up) is not built yet; until it is, the installing
// mode only records WinMain's values and ends successfully.
int runInstallingMode(void* instance, int showCommand, StatusModel& status) {
  status.appInstance = instance;
  status.showCommand = showCommand;
  return kExitSuccess;
}
