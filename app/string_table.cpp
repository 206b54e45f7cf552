#include "app/string_table.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace orvik {
namespace {

struct Entry {
  int id;
  std::string_view text;
};

// Sorted by id. The words (and their slips) are the ones the users and the console
// programs already know, so they stay exactly as they are.
constexpr auto kStrings = std::to_array<Entry>({
    {1, "&OK"},
    {2, "Cancel"},
    {4, "Please toggle the USB cable to DIGITAL (Flash) mode."},
    {6, "&Yes"},
    {7, "&No"},
    {8, "Update Keypad Firmware Version Failed. "},
    {9, "Please wait. Updating Keypad Firmware..."},
    {102, "Dealer login"},
    {103, "The serial number is identical to the radio"},
    {104, "The password is not correct. Please check it!"},
    {105, "&Dealer Login"},
    {106, "You have to restart the tool for thsi change to take effect."},
    {107, "Specify at most 15 numbers for password"},
    {108, "For help, press F1"},
    {109, "Display help"},
    {110, "Display Program Information, version number and copyright"},
    {111, "Quit the application"},
    {112,
     "A file needed for application could not be found or is corrupted. Please re-install the "
     "application.\nIf you continue to get this message, please contact Customer Service."},
    {113, "There are %d USB conections. Please remove the unused and keep one connection only."},
    {114, "Update successful."},
    {115, "Update failed."},
    {116,
     "This will program the radio (Firmware Version: %s, Codeplug Version: %s, Keypad Firmware "
     "Version: %s). Please do not remove the USB cable, the radio from the Single Unit Charger, "
     "or turn-off radio during the programming process since this can damage or corrupt the "
     "radio software.\n\nDo you want to continue?"},
    {117, "The serial number is incorrect."},
    {119,
     "Please toggle the USB cable to DIGITAL (Flash) mode then click OK.  After clicking OK, "
     "click the \"Update\" button to retry the upgrading process. "},
    {120,
     "Do you want to restore to old radio software version?  Some new features can not be used "
     "after the update."},
    {121, "%1 Series"},
    {124, "&Language"},
    {126, "Orvik"},
    {129, "About %s"},
    {130, "Version %s"},
    {131, "Update serial number successful."},
    {132, "Copyright (C) Corvane Solutions. All rights reserved."},
    {133, "Orvik is a trademark of Corvane Solutions."},
    {134, "Update Tool"},
    {135,
     "This tool updates the firmware and codeplug of Orvik radios through the USB programming "
     "cable. Keep the cable connected and the radio switched on until the update has "
     "finished."},
    {136, "The USB cable is unsupported."},
    {137, "[ 00-00 00:00 ]"},
    {138, "The help files are unavailable."},
    {139, "Nederlands(&N)"},
    {140, "Español Latino Americano(&A)"},
    {141, "Français Canadien(&C)"},
    {142, "Português (&Brasil)"},
    {143, "Failed to connect radio."},
    {145, "The update tool does not support this radio."},
    {147, "Please wait..."},
    {148, "Radio Information"},
    {149, "Radio Type"},
    {150, "Regional Code"},
    {151, "Model"},
    {152, "Serial Number"},
    {153, "Firmware Version"},
    {154, "Codeplug Version"},
    {155, "Get Radio Information"},
    {156, "Update"},
    {157, "Restore radio’s personality"},
    {158, "Update Serial Number"},
    {159, "Login"},
    {160, "&File"},
    {161, "E&xit"},
    {163, "&Setting"},
    {164, "&Help"},
    {165, "&Content and Index..."},
    {166, "&About Orvik Update Tool"},
    {171, "Successfully get radio information."},
    {172, "Failed to update serial number."},
    {173, "The update tool can't update this radio for the version compatibility issue."},
    {174, "Radio version is the latest. No need to update."},
    {175, "N/A"},
    {176, "USB Cable Connected"},
    {177, "USB Cable Disconnected"},
    {179, "Keypad Version"},
    {1079, "Unit Private ID"},
    {32788, "&English"},
    {32789, "Deutsch(&D)"},
    {32790, "Français(&F)"},
    {32791, "Italiano(&I)"},
    {32792, "Polski(&L)"},
    {32793, "Portuguese(&T)"},
    {32794, "Русский(&R)"},
    {32795, "Español(&S)"},
    {32796, "Türkçe(&K)"},
});

constexpr bool idsAscend() {
  for (std::size_t i = 1; i < kStrings.size(); ++i) {
    if (kStrings[i - 1].id >= kStrings[i].id) {
      return false;
    }
  }
  return true;
}
static_assert(idsAscend(), "the table is searched by halving, so its ids must ascend");

}  // namespace

std::optional<std::string> loadString(int id) {
  const auto found = std::lower_bound(kStrings.begin(), kStrings.end(), id,
                                      [](const Entry& entry, int key) { return entry.id < key; });
  if (found == kStrings.end() || found->id != id) {
    return std::nullopt;
  }
  return std::string(found->text);
}

std::string stringText(int id) {
  return loadString(id).value_or(std::string());
}

}  // namespace orvik
