#include "frontend/controller_wiring.h"

#include "app/application.h"
#include "commands/update_journal.h"
#include "workflow/console_server.h"
#include "workflow/main_controller.h"
#include "workflow/update_history.h"

namespace orvik {

void wireController(MainController& controller, Application& application, std::ostream& err) {
  controller.setBaseFolder(application.baseDir());
  controller.setBackupFolder(application.dataDir() / "backup");
  controller.setJournalFolder(journalFolder(application.dataDir()));
  controller.setPackageTrust(application.packageTrust());
  controller.setUpdateObserver(historyWriter(historyPath(application.dataDir()), err));
}

bool listenForConsoles(ConsoleServer& server, MainController& controller,
                       const std::filesystem::path& socket) {
  const bool listening = server.listen(
      socket,
      [&controller](ConsoleMessage message, WParam wParam, LParam lParam) {
        return controller.onConsoleMessage(message, wParam, lParam);
      },
      [&controller](WParam handle) { controller.onConsoleGone(handle); });
  if (listening) {
    controller.setConsoleChannel(&server);
  }
  return listening;
}

}  // namespace orvik
