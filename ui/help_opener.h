#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <functional>
#include <string>

namespace orvik {

// Runs a program and calls `done` with its exit status and standard output once it has ended;
// the status is -1 when it could not be started or did not end normally. The desktop's
// openers are run through one, so that tests need no desktop.
using ProgramDone = std::function<void(int status, const QString& output)>;
using ProgramLauncher =
    std::function<void(const QString& program, const QStringList& arguments, ProgramDone done)>;

// The launcher of a running window: a QProcess owned by `owner`, so that nothing is called
// back once the window is gone. It never blocks: an opener that waits for the browser it
// started ends when the browser does.
ProgramLauncher processLauncher(QObject* owner);

// The desktop's file opener, and the query that tells whether it has a viewer for a type.
inline constexpr const char* kDesktopOpener = "xdg-open";
inline constexpr const char* kDesktopTypeQuery = "xdg-mime";
inline constexpr const char* kCompiledHelpType = "application/vnd.ms-htmlhelp";

// Opens the user's manual of the language code from the tool's lang/ folder: the compiled
// help file <code>.chm when one is installed and the desktop has a viewer for it, else the HTML
// manual <code>.html in the desktop's browser. `failed` is called once when neither could be
// opened: no file, an opener that is missing or ends with a failure, or a code that is not a
// plain language code (it comes from the setup file and must not name a file elsewhere).
void openHelp(const ProgramLauncher& launch, const std::filesystem::path& langFolder,
              const std::string& code, std::function<void()> failed);

}  // namespace orvik
