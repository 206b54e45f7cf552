#include "ui/help_opener.h"

#include <QProcess>
#include <algorithm>
#include <memory>
#include <system_error>

namespace orvik {
namespace {

bool plainLanguageCode(const std::string& code) {
  return !code.empty() && std::all_of(code.begin(), code.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
  });
}

bool isFile(const std::filesystem::path& path) {
  std::error_code ignored;
  return std::filesystem::is_regular_file(path, ignored);
}

QString pathText(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

void openHtml(const ProgramLauncher& launch, const std::filesystem::path& html,
              const std::function<void()>& failed) {
  if (!isFile(html)) {
    failed();
    return;
  }
  launch(QString::fromLatin1(kDesktopOpener), {pathText(html)},
         [failed](int status, const QString&) {
           if (status != 0) {
             failed();
           }
         });
}

}  // namespace

ProgramLauncher processLauncher(QObject* owner) {
  return [owner](const QString& program, const QStringList& arguments, ProgramDone done) {
    auto* process = new QProcess(owner);
    // Both signals may come for one run (a crash); only the first counts.
    auto pending = std::make_shared<ProgramDone>(std::move(done));
    const auto finish = [process, pending](int status, const QString& output) {
      if (*pending) {
        ProgramDone call = std::move(*pending);
        *pending = nullptr;
        process->deleteLater();
        call(status, output);
      }
    };
    QObject::connect(process, &QProcess::finished, owner,
                     [process, finish](int code, QProcess::ExitStatus exit) {
                       finish(exit == QProcess::NormalExit ? code : -1,
                              QString::fromLocal8Bit(process->readAllStandardOutput()));
                     });
    QObject::connect(process, &QProcess::errorOccurred, owner,
                     [finish](QProcess::ProcessError error) {
                       if (error == QProcess::FailedToStart) {
                         finish(-1, QString());
                       }
                     });
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, arguments, QIODevice::ReadOnly);
  };
}

void openHelp(const ProgramLauncher& launch, const std::filesystem::path& langFolder,
              const std::string& code, std::function<void()> failed) {
  if (!plainLanguageCode(code)) {
    failed();
    return;
  }
  const std::filesystem::path chm = langFolder / (code + ".chm");
  const std::filesystem::path html = langFolder / (code + ".html");
  if (!isFile(chm)) {
    openHtml(launch, html, failed);
    return;
  }
  // The compiled help file needs a viewer that few desktops have; without one, or when it
  // fails, the HTML manual says the same.
  launch(
      QString::fromLatin1(kDesktopTypeQuery),
      {QStringLiteral("query"), QStringLiteral("default"), QString::fromLatin1(kCompiledHelpType)},
      [launch, chm, html, failed](int status, const QString& viewer) {
        if (status != 0 || viewer.trimmed().isEmpty()) {
          openHtml(launch, html, failed);
          return;
        }
        launch(QString::fromLatin1(kDesktopOpener), {pathText(chm)},
               [launch, html, failed](int opened, const QString&) {
                 if (opened != 0) {
                   openHtml(launch, html, failed);
                 }
               });
      });
}

}  // namespace orvik
