#pragma once

#include <QString>

#include "app/string_table.h"

namespace orvik {

// A text of the string table, for a widget.
inline QString tableText(StringId id) {
  return QString::fromStdString(stringText(id));
}

}  // namespace orvik
