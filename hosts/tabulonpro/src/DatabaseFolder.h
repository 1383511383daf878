// Where Tabulon Pro keeps its databases: the folder "Databases" in the
// desktop root ($TBM_DESKTOP_ROOT), one file "<name>.tbp" per database.
// On the command line a database is named by its name ("Sales"), or by a
// path on this machine holding '/' ("./Sales.tbp"), used as it is.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DesktopDatabase.h"
#include "Status.h"

namespace tbm::tabulonpro {

inline constexpr const char* kDatabaseExtension = ".tbp";

// <desktop root>/Databases (not created).
std::string DatabaseFolder();

// The file of a database as the command line names it. A name must be one
// that CheckDatabaseName accepts.
Status DatabasePath(const std::string& given, std::string* path);

// A database's name: one line of 1 to 63 characters, without '/', not
// starting with '.', without control characters.
Status CheckDatabaseName(const std::string& name);

// The database files in the folder, ordered by name; none when the folder
// does not exist.
std::vector<std::string> DatabaseFiles();

// DatabasePath, then DesktopDatabase::Open.
Status OpenDatabase(const std::string& given, std::unique_ptr<DesktopDatabase>* database);

}  // namespace tbm::tabulonpro
