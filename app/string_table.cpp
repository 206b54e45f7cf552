#include "app/string_table.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace orvik {
namespace {

struct Entry {
  StringId id;
  std::string_view text;
};

// Sorted by id. The words (and their slips) are the ones the users and the console
// programs already know, so they stay exactly as they are.
constexpr auto kStrings = std::to_array<Entry>({
    {StringId::OkButton, "&OK"},
    {StringId::CancelButton, "Cancel"},
    {StringId::ToggleCableForInformation, "Please toggle the USB cable to DIGITAL (Flash) mode."},
    {StringId::YesButton, "&Yes"},
    {StringId::NoButton, "&No"},
    {StringId::KeypadUpdateFailed, "Update Keypad Firmware Version Failed. "},
    {StringId::KeypadUpdateWait, "Please wait. Updating Keypad Firmware..."},
    {StringId::DealerLoginTip, "Dealer login"},
    {StringId::SerialNumberUnchanged, "The serial number is identical to the radio"},
    {StringId::PasswordIncorrect, "The password is not correct. Please check it!"},
    {StringId::DealerLoginMenu, "&Dealer Login"},
    {StringId::RestartForLanguage, "You have to restart the tool for thsi change to take effect."},
    {StringId::PasswordFormat, "Specify at most 15 numbers for password"},
    {StringId::HelpPrompt, "For help, press F1"},
    {StringId::HelpTip, "Display help"},
    {StringId::AboutTip, "Display Program Information, version number and copyright"},
    {StringId::ExitTip, "Quit the application"},
    {StringId::FileMissing,
     "A file needed for application could not be found or is corrupted. Please re-install the "
     "application.\nIf you continue to get this message, please contact Customer Service."},
    {StringId::TooManyCables,
     "There are %d USB conections. Please remove the unused and keep one connection only."},
    {StringId::UpdateSucceeded, "Update successful."},
    {StringId::UpdateFailed, "Update failed."},
    {StringId::UpdateQuestion,
     "This will program the radio (Firmware Version: %s, Codeplug Version: %s, Keypad Firmware "
     "Version: %s). Please do not remove the USB cable, the radio from the Single Unit Charger, "
     "or turn-off radio during the programming process since this can damage or corrupt the "
     "radio software.\n\nDo you want to continue?"},
    {StringId::SerialNumberIncorrect, "The serial number is incorrect."},
    {StringId::ToggleCableForUpdate,
     "Please toggle the USB cable to DIGITAL (Flash) mode then click OK.  After clicking OK, "
     "click the \"Update\" button to retry the upgrading process. "},
    {StringId::DowngradeQuestion,
     "Do you want to restore to old radio software version?  Some new features can not be used "
     "after the update."},
    {StringId::SeriesFormat, "%1 Series"},
    {StringId::LanguageMenu, "&Language"},
    {StringId::ProductName, "Orvik"},
    {StringId::AboutTitleFormat, "About %s"},
    {StringId::VersionFormat, "Version %s"},
    {StringId::SerialNumberUpdated, "Update serial number successful."},
    {StringId::Copyright, "Copyright (C) Corvane Solutions. All rights reserved."},
    {StringId::Trademark, "Orvik is a trademark of Corvane Solutions."},
    {StringId::UpdateTool, "Update Tool"},
    {StringId::AboutNotice,
     "This tool updates the firmware and codeplug of Orvik radios through the USB programming "
     "cable. Keep the cable connected and the radio switched on until the update has "
     "finished."},
    {StringId::CableUnsupported, "The USB cable is unsupported."},
    {StringId::NoTimeStamp, "[ 00-00 00:00 ]"},
    {StringId::HelpUnavailable, "The help files are unavailable."},
    {StringId::LanguageDutch, "Nederlands(&N)"},
    {StringId::LanguageLatinAmericanSpanish, "Español Latino Americano(&A)"},
    {StringId::LanguageCanadianFrench, "Français Canadien(&C)"},
    {StringId::LanguageBrazilianPortuguese, "Português (&Brasil)"},
    {StringId::ConnectFailed, "Failed to connect radio."},
    {StringId::RadioNotSupported, "The update tool does not support this radio."},
    {StringId::PleaseWait, "Please wait..."},
    {StringId::RadioInformationGroup, "Radio Information"},
    {StringId::RadioTypeLabel, "Radio Type"},
    {StringId::RegionalCodeLabel, "Regional Code"},
    {StringId::ModelLabel, "Model"},
    {StringId::SerialNumberLabel, "Serial Number"},
    {StringId::FirmwareVersionLabel, "Firmware Version"},
    {StringId::CodeplugVersionLabel, "Codeplug Version"},
    {StringId::GetRadioInformationButton, "Get Radio Information"},
    {StringId::UpdateButton, "Update"},
    {StringId::KeepPersonalityBox, "Restore radio’s personality"},
    {StringId::UpdateSerialNumberButton, "Update Serial Number"},
    {StringId::LoginButton, "Login"},
    {StringId::FileMenu, "&File"},
    {StringId::ExitMenu, "E&xit"},
    {StringId::SettingMenu, "&Setting"},
    {StringId::HelpMenu, "&Help"},
    {StringId::HelpContentsMenu, "&Content and Index..."},
    {StringId::AboutMenu, "&About Orvik Update Tool"},
    {StringId::RadioInformationRead, "Successfully get radio information."},
    {StringId::SerialNumberNotUpdated, "Failed to update serial number."},
    {StringId::VersionsIncompatible,
     "The update tool can't update this radio for the version compatibility issue."},
    {StringId::RadioUpToDate, "Radio version is the latest. No need to update."},
    {StringId::NotAvailable, "N/A"},
    {StringId::CableConnected, "USB Cable Connected"},
    {StringId::CableDisconnected, "USB Cable Disconnected"},
    {StringId::KeypadVersionLabel, "Keypad Version"},
    {StringId::UnitPrivateIdLabel, "Unit Private ID"},
    {StringId::LanguageEnglish, "&English"},
    {StringId::LanguageGerman, "Deutsch(&D)"},
    {StringId::LanguageFrench, "Français(&F)"},
    {StringId::LanguageItalian, "Italiano(&I)"},
    {StringId::LanguagePolish, "Polski(&L)"},
    {StringId::LanguagePortuguese, "Portuguese(&T)"},
    {StringId::LanguageRussian, "Русский(&R)"},
    {StringId::LanguageSpanish, "Español(&S)"},
    {StringId::LanguageTurkish, "Türkçe(&K)"},
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

std::optional<std::string> loadString(StringId id) {
  const auto found =
      std::lower_bound(kStrings.begin(), kStrings.end(), id,
                       [](const Entry& entry, StringId key) { return entry.id < key; });
  if (found == kStrings.end() || found->id != id) {
    return std::nullopt;
  }
  return std::string(found->text);
}

std::string stringText(StringId id) {
  return loadString(id).value_or(std::string());
}

}  // namespace orvik
