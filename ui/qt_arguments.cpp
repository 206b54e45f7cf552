#include "ui/qt_arguments.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace orvik {
namespace {

// The options QApplication and its platform plugins take from the command line.
constexpr std::array<std::string_view, 17> kWithValue = {
    "platform",        "platformpluginpath", "platformtheme", "plugin",
    "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session",
    "display",         "geometry",           "title",         "name",
    "style",           "stylesheet",         "qmljsdebugger", "dialogs",
    "fontengine"};
constexpr std::array<std::string_view, 5> kFlags = {"reverse", "widgetcount", "nograb", "dograb",
                                                    "sync"};

bool contains(const auto& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

std::optional<std::string> firstNonQtArgument(const std::vector<std::string>& arguments) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string_view name = arguments[i];
    if (!name.starts_with('-')) {
      return arguments[i];
    }
    name.remove_prefix(name.starts_with("--") ? 2 : 1);
    const std::size_t equals = name.find('=');
    if (equals != std::string_view::npos) {
      if (!contains(kWithValue, name.substr(0, equals))) {
        return arguments[i];
      }
    } else if (contains(kWithValue, name)) {
      if (++i == arguments.size()) {
        return arguments[i - 1];  // its value is missing
      }
    } else if (!contains(kFlags, name)) {
      return arguments[i];
    }
  }
  return std::nullopt;
}

std::optional<std::string> styleArgument(const std::vector<std::string>& arguments) {
  std::optional<std::string> style;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string_view name = arguments[i];
    if (!name.starts_with('-')) {
      continue;
    }
    name.remove_prefix(name.starts_with("--") ? 2 : 1);
    if (name.starts_with("style=")) {
      style = std::string(name.substr(6));
    } else if (name == "style" && i + 1 < arguments.size()) {
      style = arguments[++i];
    } else if (name.find('=') == std::string_view::npos && contains(kWithValue, name)) {
      ++i;  // another option's value, even one that reads "-style"
    }
  }
  return style;
}

}  // namespace orvik
