#pragma once

#include <optional>
#include <string>

#include "app/string_id.h"

namespace orvik {

// The user-visible texts by their ids; the ids are what the layers pass around, so a front end
// can show a text in the message box or a control without knowing its words. Texts are UTF-8
// and kept word for word, line breaks included.
std::optional<std::string> loadString(StringId id);
// The text of the id, or an empty text for an id the table does not hold.
std::string stringText(StringId id);

}  // namespace orvik
