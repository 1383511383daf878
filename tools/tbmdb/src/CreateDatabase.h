// Making a new handheld database from a CSV file whose header row names the
// fields with their types ("Name:text,Born:date,Qty:number,Start:time").
// The database is built with the same code synchronisation builds databases
// with (schema, options, attributes, value lists, records as the desktop
// has them), under a temporary name beside the target, and renamed into
// place only when it is complete: a failure leaves nothing behind.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "DatabaseBuilder.h"
#include "Status.h"

namespace tbm::tbmdb {

// How a field is shown and edited on the handheld.
enum class DisplayStyle : std::uint8_t {
  kEditBox = 0,
  kDropDownList = 1,
  kDropDownCombo = 2,
  kCheckBox = 3,
  kZoomBox = 5,
};

// The style a name stands for ("edit", "list", "combo", "checkbox", "zoom").
std::optional<DisplayStyle> StyleFromName(const std::string& name);
std::string StyleName(std::uint8_t style);

struct FieldSettings {
  std::optional<DisplayStyle> style;
  std::optional<std::vector<std::string>> values;  // the field's value list
  bool locked = false;
  bool capitalise = false;
};

struct CreateOptions {
  std::string name;  // the database's name; empty: the file's name
  sync::DatabaseFormats formats;
  // The whole attribute block (formats and attribute words) of a model
  // database; unset: a new database's block with formats.
  std::optional<std::array<std::uint8_t, MDbAttrBytes>> attributes;
  // Settings by field name (matched without regard to case).
  std::map<std::string, FieldSettings> fields;
  bool replace = false;  // replace a database already at the target
};

// Creates the database at target (a handheld or host path) from the CSV file
// csvPath ("-" for standard input). *records receives the number loaded.
// Values of number fields that will not sort or find as the numbers they
// look like are told on standard error, one line per field.
// Temporaries left by creations that were killed are removed first; an
// interrupted creation (Ctrl-C, SIGTERM, SIGHUP) removes its own.
Status CreateDatabase(const std::string& csvPath, const std::string& target,
                      const CreateOptions& options, std::uint32_t* records);

// The settings of the existing database at model, as options that create a
// database like it: its name, its attribute block (date and time formats
// included), and each field's style, value list and flags by field name.
Status SettingsOfDatabase(const std::string& model, CreateOptions* options);

}  // namespace tbm::tbmdb
