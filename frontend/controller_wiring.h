#pragma once

#include <ostream>

namespace orvik {

class Application;
class MainController;

// Gives the controller what both front ends give it: the tool's base folder (keypad
// boot-loader), the backup folder, the update journal and the update history, whose write
// failures go to err.
void wireController(MainController& controller, Application& application, std::ostream& err);

}  // namespace orvik
