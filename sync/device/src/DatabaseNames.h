// Where handheld databases live, and which file a database name stands for.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tbm::sync {

// The handheld folder of the databases.
inline constexpr char16_t kDatabaseFolder[] = u"\\My Documents\\Tabulon";

// The handheld path of the database named `name` (UTF-16): the folder, then
// the name with the part from its last dot on replaced by ".tbm", or with
// ".tbm" appended when it has no dot; "Sales" and "Sales.old" both give
// "\My Documents\Tabulon\Sales.tbm". A name that is empty, would be empty
// without its extension, or holds a path separator ('\' or '/'), a control
// character or one of  : * ? " < > |  has no path: names come from the
// desktop, and none may lead outside the folder.
std::optional<std::u16string> DatabasePathForName(std::u16string_view name);

}  // namespace tbm::sync
