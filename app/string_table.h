#pragma once

#include <optional>
#include <string>

namespace orvik {

// The user-visible texts by their numeric ids; the ids are what the layers pass around, so
// a front end can show a text in the message box or a control without knowing its words.
// Texts are UTF-8 and kept word for word, line breaks included.
std::optional<std::string> loadString(int id);
// The text of the id, or an empty text for an id the table does not hold.
std::string stringText(int id);

// Ids the start-up itself uses.
inline constexpr int kStringFileMissing = 112;
inline constexpr int kStringProductName = 126;
inline constexpr int kStringUpdateTool = 134;

}  // namespace orvik
