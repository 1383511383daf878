// Resource-only language libraries: every text, menu, tool bar, dialog
// layout and picture a program shows, looked up by number in a shared
// library chosen by the device's language.
//
// A language library is built from one text source per language (res/lang)
// by the resource compiler, and exports two C entry points:
//
//   int TBMResFind(std::uint32_t kind, std::uint32_t number,
//                  const char** data, std::uint32_t* bytes);
//     1 and the resource's bytes (UTF-8 text in the forms below) when the
//     library has that resource, else 0.
//   void TBMGetDllVersion(std::uint16_t* major, std::uint16_t* minor,
//                         std::uint16_t* build, std::uint16_t* revision,
//                         std::uint32_t* flags);
//     optional; stores the library's version into the pointers that are
//     not null.
//
// The text forms of menus, tool bars, pictures and dialog layouts are
// described with their readers (src/ResourceText.h); strings are plain
// UTF-8 text.
//
// The bytes come from a file outside the program, so ResourceLibrary reads
// them as it reads any outside input: every menu, tool bar and picture is
// parsed and checked before it is handed out, and a bad one is an error
// that names the library and the resource, never a crash.
//
// No Qt here: the framework (platform/ui) turns these forms into widgets.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Status.h"

namespace tbm::res {

enum class ResourceKind : std::uint32_t {
  kString = 1,
  kMenu = 2,
  kToolBar = 3,
  kDialog = 4,
  kPicture = 5,
};

// A menu or menu bar: its items in order. A pop-up has children and no
// command; a separator has neither text nor command.
struct MenuItem {
  enum class Kind { kCommand, kPopup, kSeparator };
  Kind kind = Kind::kCommand;
  std::u16string text;  // with '&' before the mnemonic letter, as written
  std::uint16_t command = 0;
  std::vector<MenuItem> children;
};
struct Menu {
  std::vector<MenuItem> items;
};

// A tool bar: buttons showing a picture and sending a command, and gaps.
struct ToolBarButton {
  bool separator = false;
  std::uint16_t command = 0;
  std::uint32_t picture = 0;  // a picture number of the same library
};
struct ToolBar {
  std::vector<ToolBarButton> buttons;
};

// A picture drawn from shapes on a grid of width x height units, so that it
// scales to any pixel density. Colours are 0x00RRGGBB; a shape without a
// fill or a stroke leaves that part out.
//
// Drawing: one unit is one device-independent pixel; the shapes are drawn
// in order, each filled and then stroked, anti-aliased, on a transparent
// ground (nothing is painted where no shape is). A stroke is centred on the
// outline, strokeWidth units wide, with mitred corners and flat ends; a
// polygon is closed, a polyline open. The pictures are designed for this:
// edges that must stay sharp lie on whole units (fills) or half units
// (1-unit strokes), so they are crisp at 1x and 2x.
struct PictureShape {
  enum class Kind { kRect, kEllipse, kPolygon, kPolyline };
  Kind kind = Kind::kRect;
  std::vector<float> points;  // x, y pairs in grid units; rect/ellipse: x, y, w, h
  std::optional<std::uint32_t> fill;
  std::optional<std::uint32_t> stroke;
  float strokeWidth = 1.0f;
};
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<PictureShape> shapes;
};

// A dialog's layout: its controls in rows from top to bottom, each row's
// controls from left to right, laid out by the dialog to the screen's
// width (ResourceText.h gives the text form).
struct DialogControl {
  enum class Kind { kTitle, kLabel, kEdit, kCombo, kCheck, kButton, kCustom, kSpace };
  Kind kind = Kind::kLabel;
  std::uint16_t id = 0;  // 0: a control nothing refers to
  std::u16string text;
  bool compact = false;  // a title without its rule, lower
  bool stretch = false;  // takes what room its row has left
};
struct DialogRow {
  std::vector<DialogControl> controls;
};
struct DialogLayout {
  std::u16string caption;  // empty: the program's title
  std::vector<DialogRow> rows;
};

struct LibraryVersion {
  std::uint16_t major = 0;
  std::uint16_t minor = 0;
  std::uint16_t build = 0;
  std::uint16_t revision = 0;
};

class ResourceLibrary {
 public:
  ~ResourceLibrary();
  ResourceLibrary(const ResourceLibrary&) = delete;
  ResourceLibrary& operator=(const ResourceLibrary&) = delete;

  // Loads the library at the host path. kNotFound when there is no such
  // file; kNoPermission when it may not be read; kDamaged when the file is
  // not a loadable library or lacks TBMResFind. *library stays empty on
  // failure and nothing stays loaded.
  static Status Load(const std::string& path, std::unique_ptr<ResourceLibrary>* library);

  const std::string& path() const { return path_; }

  // The version the library reports, or nothing when it has no
  // TBMGetDllVersion.
  std::optional<LibraryVersion> Version() const;

  // The string numbered number, or nothing when the library lacks it.
  std::optional<std::u16string> String(std::uint32_t number) const;
  // The string, or empty when the library lacks it.
  std::u16string StringOrEmpty(std::uint32_t number) const;

  // kNotFound when the library lacks the resource; kDamaged (naming the
  // library, the resource and the line) when its text cannot be read.
  Status LoadMenu(std::uint32_t number, Menu* menu) const;
  Status LoadToolBar(std::uint32_t number, ToolBar* toolBar) const;
  Status LoadPicture(std::uint32_t number, Picture* picture) const;
  // The raw text of a dialog layout, and the layout read from it.
  Status LoadDialogText(std::uint32_t number, std::string* text) const;
  Status LoadDialog(std::uint32_t number, DialogLayout* layout) const;

 private:
  ResourceLibrary() = default;
  bool Find(ResourceKind kind, std::uint32_t number, std::string_view* bytes) const;
  template <typename Parse>
  Status Read(ResourceKind kind, std::uint32_t number, Parse parse) const;

  std::string path_;
  void* handle_ = nullptr;
  using FindFunction = int (*)(std::uint32_t, std::uint32_t, const char**, std::uint32_t*);
  using VersionFunction = void (*)(std::uint16_t*, std::uint16_t*, std::uint16_t*, std::uint16_t*,
                                   std::uint32_t*);
  FindFunction find_ = nullptr;
  VersionFunction version_ = nullptr;
};

}  // namespace tbm::res
