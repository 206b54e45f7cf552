// The machine's setup file: read after the configuration and held against its region, and
// the one file the tool writes back (the remembered dealer login and the chosen language).
#include <exception>

#include "base/file_replace.h"
#include "base/private_files.h"
#include "config/config.h"
#include "config/scramble.h"
#include "errors/error_text.h"

namespace orvik {
namespace {

// Sets one attribute of the first element of that name in the document; false when there
// is no such element or the document fails.
bool setFirstAttribute(XmlDocument& document, const char* element, const char* attribute,
                       const std::string& value) {
  try {
    const XmlNodeList found = document.getElementsByTagName(element);
    if (found.length() == 0) {
      return false;
    }
    found.item(0).setAttribute(attribute, value);
    return true;
  } catch (const XmlError&) {
  } catch (const std::exception&) {
  }
  return false;
}

}  // namespace

// The setup phase. Whatever the document raises on the way (an absent id, name, cd1 or cd2,
// no root element) ends it as a whole with one line.
bool Config::loadSetupFile(bool read, const std::string& path) {
  try {
    if (!read || !document().loadXML(xmlTextView())) {
      appendError(ErrorCategory::INI, "The setup file [%s] is invalid.", path.c_str());
      return false;
    }
    return readSetupDocument();
  } catch (const XmlError&) {
  } catch (const std::exception&) {
  }
  appendError(ErrorCategory::INI, "Failed to load setup file [%s].", path.c_str());
  return false;
}

bool Config::readSetupDocument() {
  const XmlElement root = document().documentElement();
  const std::string id = root.getAttribute("id");
  if (id.empty()) {
    appendError(ErrorCategory::INI, "The Region ID is empty.");
    return false;
  }
  const std::string name = root.getAttribute("name");
  if (name.empty()) {
    appendError(ErrorCategory::INI, "The Region name is empty.");
    return false;
  }

  const XmlNodeList passwords = root.getElementsByTagName("pwd");
  if (passwords.length() > 0) {
    const XmlElement pwd = passwords.item(0);
    dealerPassword = pwd.getAttribute("cd1");
    savedPassword = pwd.getAttribute("cd2");
  }

  // A package made for another region is refused; the id is checked first and exactly.
  if (id != regionId) {
    appendError(ErrorCategory::INI, "The setup has a different region id with config.");
    return false;
  }
  if (name != regionName) {
    appendError(ErrorCategory::INI, "The setup has a different region name with config.");
    return false;
  }

  // The language chosen in an earlier run; a langs element without def chooses nothing and
  // is no reason to refuse the file.
  const XmlNodeList langs = document().getElementsByTagName("langs");
  if (langs.length() > 0) {
    try {
      currentLanguage = langs.item(0).getAttribute("def");
    } catch (const XmlError&) {
      currentLanguage.clear();
    }
  }
  return true;
}

bool Config::SaveSetup() {
  if (loadedPath.empty()) {
    return false;
  }
  std::string text;
  try {
    // A document without a root (a setup file that failed to parse) would save as an empty
    // file, which the next start refuses, and the dealer password would be gone.
    document().documentElement();
    text = document().xml();
  } catch (const XmlError&) {
    return false;
  } catch (const std::exception&) {
    return false;
  }
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  Scramble(bytes);
  if (!replaceFileContents(loadedPath, bytes)) {
    return false;
  }
  // It holds the dealer password.
  makeFilePrivate(loadedPath);
  return true;
}

bool Config::GetDealerPasswords(std::string& password, std::string& saved) const {
  password.clear();
  saved.clear();
  if (dealerPassword.empty()) {
    return false;
  }
  password = dealerPassword;
  saved = savedPassword;
  return true;
}

bool Config::SetSavedPassword(const std::string& text) {
  if (text.empty()) {
    return false;
  }
  savedPassword = text;
  return xmlDocument && setFirstAttribute(*xmlDocument, "pwd", "cd2", text) && SaveSetup();
}

bool Config::ClearSavedPassword() {
  savedPassword.clear();
  return xmlDocument && setFirstAttribute(*xmlDocument, "pwd", "cd2", std::string()) && SaveSetup();
}

bool Config::SetDefaultLanguage(const std::string& code) {
  if (code.empty()) {
    return false;
  }
  return xmlDocument && setFirstAttribute(*xmlDocument, "langs", "def", code) && SaveSetup();
}

}  // namespace orvik
