#include "frontend/controller_wiring.h"

#include "app/application.h"
#include "commands/update_journal.h"
#include "workflow/main_controller.h"
#include "workflow/update_history.h"

namespace orvik {

void wireController(MainController& controller, Application& application, std::ostream& err) {
  controller.setBaseFolder(application.baseDir());
  controller.setBackupFolder(application.dataDir() / "backup");
  controller.setJournalFolder(journalFolder(application.dataDir()));
  controller.setUpdateObserver(historyWriter(historyPath(application.dataDir()), err));
}

}  // namespace orvik
