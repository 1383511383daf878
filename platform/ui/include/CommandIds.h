// The command identifiers of the handheld program and of the framework
// under it, with the numbers menus, tool bars and sent commands carry.
// The numbers are fixed: language libraries name commands in their menus
// and tool bars by them, and other processes send them.
//
// This header has no Qt in it, so the language libraries' compiler can
// map the names in their sources to these numbers.
#pragma once

#include <cstdint>
#include <string_view>

namespace tbm::ui {

using CommandId = std::uint16_t;

// Framework commands.
constexpr CommandId ID_FILE_NEW = 0xE100;
constexpr CommandId ID_FILE_OPEN = 0xE101;
constexpr CommandId ID_APP_ABOUT = 0xE140;
constexpr CommandId ID_APP_EXIT = 0xE141;
// Help for what the frame shows (F1 sends it too).
constexpr CommandId ID_HELP = 0xE146;
constexpr CommandId ID_VIEW_TOOLBAR = 0xE800;
constexpr CommandId ID_RECORD_FIRST = 0xE900;
constexpr CommandId ID_RECORD_LAST = 0xE901;
constexpr CommandId ID_RECORD_NEXT = 0xE902;
constexpr CommandId ID_RECORD_PREV = 0xE903;

// Edit commands the field editors answer (the edit menu and the
// tap-and-hold menu of an editor).
constexpr CommandId ID_EDIT_CLEAR = 0xE120;
constexpr CommandId ID_EDIT_COPY = 0xE122;
constexpr CommandId ID_EDIT_CUT = 0xE123;
constexpr CommandId ID_EDIT_PASTE = 0xE125;
constexpr CommandId ID_EDIT_SELECT_ALL = 0xE12A;
constexpr CommandId ID_EDIT_UNDO = 0xE12B;

// The program's commands.
constexpr CommandId ID_INDICATOR_TITLE = 0xC000;
constexpr CommandId ID_INDICATOR_RECORD = 0xC001;
constexpr CommandId ID_INDICATOR_FOUND_SET = 0xC002;
constexpr CommandId ID_VIEW_FORM = 0xC014;
constexpr CommandId ID_VIEW_LIST = 0xC015;
constexpr CommandId ID_VIEW_OPTIONS = 0xC016;
constexpr CommandId ID_COLUMN_OPTIONS = 0xC017;
// The date and time entry controls: set the current time, today's date.
constexpr CommandId ID_TIME_NOW = 0xC01E;
constexpr CommandId ID_DATE_TODAY = 0xC01F;
constexpr CommandId ID_RECORD_NEW = 0xC032;
constexpr CommandId ID_RECORD_DUPLICATE = 0xC033;
constexpr CommandId ID_RECORD_DELETE = 0xC034;
constexpr CommandId ID_RECORD_DELETE_ALL = 0xC035;
constexpr CommandId ID_RECORD_FIND = 0xC036;
constexpr CommandId ID_COLUMN_FIND = 0xC037;
constexpr CommandId ID_RECORD_SHOW_ALL = 0xC038;
constexpr CommandId ID_RECORD_GOTO = 0xC039;
constexpr CommandId ID_RECORD_SORT = 0xC03A;
constexpr CommandId ID_COLUMN_SORT_ASCENDING = 0xC03B;
constexpr CommandId ID_COLUMN_SORT_DESCENDING = 0xC03C;

// Control identifiers of the frame's bars.
constexpr std::uint16_t AFX_IDW_TOOLBAR = 0xE800;
constexpr std::uint16_t AFX_IDW_STATUS_BAR = 0xE801;

struct NamedCommand {
  std::string_view name;
  CommandId id;
};

// Every command above by its name, for the language libraries' compiler.
inline constexpr NamedCommand kNamedCommands[] = {
    {"ID_FILE_NEW", ID_FILE_NEW},
    {"ID_FILE_OPEN", ID_FILE_OPEN},
    {"ID_APP_ABOUT", ID_APP_ABOUT},
    {"ID_APP_EXIT", ID_APP_EXIT},
    {"ID_HELP", ID_HELP},
    {"ID_VIEW_TOOLBAR", ID_VIEW_TOOLBAR},
    {"ID_RECORD_FIRST", ID_RECORD_FIRST},
    {"ID_RECORD_LAST", ID_RECORD_LAST},
    {"ID_RECORD_NEXT", ID_RECORD_NEXT},
    {"ID_RECORD_PREV", ID_RECORD_PREV},
    {"ID_EDIT_CLEAR", ID_EDIT_CLEAR},
    {"ID_EDIT_COPY", ID_EDIT_COPY},
    {"ID_EDIT_CUT", ID_EDIT_CUT},
    {"ID_EDIT_PASTE", ID_EDIT_PASTE},
    {"ID_EDIT_SELECT_ALL", ID_EDIT_SELECT_ALL},
    {"ID_EDIT_UNDO", ID_EDIT_UNDO},
    {"ID_INDICATOR_TITLE", ID_INDICATOR_TITLE},
    {"ID_INDICATOR_RECORD", ID_INDICATOR_RECORD},
    {"ID_INDICATOR_FOUND_SET", ID_INDICATOR_FOUND_SET},
    {"ID_VIEW_FORM", ID_VIEW_FORM},
    {"ID_VIEW_LIST", ID_VIEW_LIST},
    {"ID_VIEW_OPTIONS", ID_VIEW_OPTIONS},
    {"ID_COLUMN_OPTIONS", ID_COLUMN_OPTIONS},
    {"ID_TIME_NOW", ID_TIME_NOW},
    {"ID_DATE_TODAY", ID_DATE_TODAY},
    {"ID_RECORD_NEW", ID_RECORD_NEW},
    {"ID_RECORD_DUPLICATE", ID_RECORD_DUPLICATE},
    {"ID_RECORD_DELETE", ID_RECORD_DELETE},
    {"ID_RECORD_DELETE_ALL", ID_RECORD_DELETE_ALL},
    {"ID_RECORD_FIND", ID_RECORD_FIND},
    {"ID_COLUMN_FIND", ID_COLUMN_FIND},
    {"ID_RECORD_SHOW_ALL", ID_RECORD_SHOW_ALL},
    {"ID_RECORD_GOTO", ID_RECORD_GOTO},
    {"ID_RECORD_SORT", ID_RECORD_SORT},
    {"ID_COLUMN_SORT_ASCENDING", ID_COLUMN_SORT_ASCENDING},
    {"ID_COLUMN_SORT_DESCENDING", ID_COLUMN_SORT_DESCENDING},
};

}  // namespace tbm::ui
