// The text forms of menus, tool bars, pictures and dialogs inside a language
// library, and their one reader each. The resource compiler writes these
// forms and checks what it wrote with the same readers, so a library the
// build made always reads back; a library from elsewhere is read as any
// outside input: every number, count and length is checked, and the first
// fault is reported with its line.
//
// Common rules. UTF-8 text; lines end with LF (a CR before it is ignored);
// blank lines are skipped; leading and trailing blanks are ignored. A line is
// a keyword in capitals followed by arguments separated by blanks. A text
// argument is in double quotes, with \" for a quote, \\ for a backslash, \n
// for a line break and \t for a tab; it must be well-formed UTF-8.
//
// Menu (a menu bar or the pop-ups of a context menu):
//   POPUP "&Record"          a pop-up; its items follow until END
//   ITEM 49202 "&New"        an item sending command 49202 (1 to 65535)
//   SEPARATOR
//   END                      closes the innermost open POPUP
// Pop-ups nest at most kMaxMenuDepth deep and are never empty; the menu is
// not empty; an item text is 1 to kMaxMenuText UTF-16 units.
//
// Tool bar:
//   BUTTON 49173 320         a button sending command 49173 and showing
//                            picture 320 of the same library
//   SEPARATOR
// At least one button, at most kMaxToolBarEntries lines.
//
// Picture (a grid of SIZE units; see Picture in ResourceLibrary.h):
//   SIZE 15 15                                     first line; 1 to 256 each
//   RECT x y w h [FILL #rrggbb] [STROKE #rrggbb] [WIDTH n]
//   ELLIPSE x y w h  <the same paint>
//   POLYGON x1 y1 x2 y2 x3 y3 ...  <the same paint>   at least 3 points
//   POLYLINE x1 y1 x2 y2 ...  STROKE #rrggbb [WIDTH n] at least 2 points
// Numbers are decimal with an optional fraction ("0.5"); every point lies
// inside the grid (edges included) and rectangles have a positive size. A
// shape has a fill, a stroke or both; WIDTH (above 0, at most 16, default
// 1) goes with a stroke. At most kMaxPictureShapes shapes and
// kMaxShapePoints points a shape; a picture draws at least one shape.
//
// Dialog layout (DialogLayout in ResourceLibrary.h): rows of controls.
//   CAPTION "Find"                 optional, first: the window's caption
//   TITLE 2401 "Find Records" [COMPACT]   the dialog's title line
//   LABEL 2602 "Go to record:"     a text (id 0 when nothing refers to it)
//   EDIT 2403 [STRETCH]            an edit box
//   COMBO 2402 [STRETCH]           a drop-down list
//   CHECK 2703 "Track" [STRETCH]   a check box
//   BUTTON 2307 "Reset" [STRETCH]  a push button
//   CUSTOM 2404 [STRETCH]          a place the dialog fills with a control
//                                  of its own
//   SPACE                          room that takes what is left
//   ROW ... END                    controls side by side; a control line
//                                  outside a ROW is a row of its own
// Ids are 0 to 65535, and an id other than 0 names one control only; texts
// are 0 to kMaxDialogText UTF-16 units; at most kMaxDialogControls
// controls; rows do not nest and are not empty.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "ResourceLibrary.h"
#include "Status.h"

namespace tbm::res {

inline constexpr std::size_t kMaxResourceBytes = 1 << 20;
inline constexpr int kMaxMenuDepth = 4;
inline constexpr std::size_t kMaxMenuItems = 512;
inline constexpr std::size_t kMaxMenuText = 255;
inline constexpr std::size_t kMaxToolBarEntries = 32;
inline constexpr int kMaxPictureSize = 256;
inline constexpr std::size_t kMaxPictureShapes = 256;
inline constexpr std::size_t kMaxShapePoints = 256;
inline constexpr float kMaxStrokeWidth = 16.0f;
inline constexpr std::size_t kMaxDialogControls = 64;
inline constexpr std::size_t kMaxDialogText = 1024;

// Each reader fills *out only on success. A failure is kDamaged with a
// sentence that begins "line <n>: " (or names the whole text when it has no
// line to blame).
Status ParseMenuText(std::string_view text, Menu* out);
Status ParseToolBarText(std::string_view text, ToolBar* out);
Status ParsePictureText(std::string_view text, Picture* out);
Status ParseDialogText(std::string_view text, DialogLayout* out);

// One line cut into its words and quoted texts (the quotes taken off and
// the escapes resolved). quoted[i] tells whether tokens[i] was in quotes.
struct LineTokens {
  std::vector<std::string> tokens;
  std::vector<bool> quoted;
};

// Cuts one line (without its line end) into tokens. kDamaged, without a
// line number, for an unclosed quote, an unknown escape, text touching a
// closing quote, or a quoted text that is not well-formed UTF-8.
Status TokenizeLine(std::string_view line, LineTokens* out);

// The text in the quoted form TokenizeLine reads back.
std::string QuoteText(std::string_view text);

// Splits text into lines as the readers see them: the line end and a CR
// before it taken off. A text ending in LF has no empty last line.
std::vector<std::string_view> SplitLines(std::string_view text);

// Whether bytes are well-formed UTF-8 (no overlong forms, surrogates or
// values past U+10FFFF).
bool IsWellFormedUtf8(std::string_view bytes);

}  // namespace tbm::res
