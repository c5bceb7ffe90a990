#pragma once
// Window definitions: one declarative file per window, read into records that
// mirror the unit tables. The loader refuses what it does not know and names
// file and line for every fault.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "embedded.h"
#include "text.h"

enum class UnitType : uint8_t { window, EditBox, PicBox, DrawPanel, GroupBox, Label, Button, CheckBox, Tab, CommonDlg, Timer };

enum class Event : uint8_t { created, aboutToBeDestroyed, clicked, leftButtonDown, tick };

const char* unitTypeName(UnitType t);

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};
using Colour = std::optional<Rgb>;  // nullopt: the type's default colour

struct FontSpec {
    Text face;
    int height = -12;  // negative: character height in pixels
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    int charset = 134;
};

struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
};

struct Binding {
    Event event;
    std::string handler;
    int line = 0;
};

// One record layout shared by every type; the loader accepts for each type only
// the fields of that type, and the rest keep their defaults.
struct UnitDef {
    UnitType type = UnitType::Label;
    Text name;          // empty for the window's own record
    int line = 0;       // where the record starts in its file
    Rect rect;
    int parent = -1;    // index in the window's units; -1 for the window itself
    int page = -1;      // page of a Tab parent
    Text comment, tag;
    bool visible = true;
    bool disabled = false;
    bool tabStop = false;
    std::vector<Binding> bindings;

    Text caption;       // Label, Button, CheckBox, GroupBox caption; EditBox content; window title
    Colour textColour;
    Colour backColour;
    std::optional<FontSpec> font;
    int border = 0;
    int hAlign = 0, vAlign = 1;
    bool wordWrap = false;
    int gradientMode = 0;  // 0 none, 1 top to bottom, 2 left to right
    std::array<Colour, 3> gradient{Rgb{128, 128, 128}, Rgb{255, 255, 255}, Rgb{128, 128, 128}};
    bool checked = false;
    int inputMode = 0;
    int64_t interval = 0;
    int currentPage = 0;
    int tabPosition = 0;
    bool multiRow = false;
    std::vector<Text> pages;
    std::string picture;   // name of an embedded asset
    int displayMode = 0;

    // window
    int borderStyle = 2;
    bool maximizeBox = false, minimizeBox = false, controlBox = true, movable = true;
    bool enterMovesFocus = false, escapeCloses = true, showInTaskbar = true, alwaysOnTop = false;
    int startPosition = 0;
    std::string icon;

    // CommonDlg
    int dialogKind = 0;
    Text title, fileName, filter, initialDir, defaultExt;
    int filterIndex = 0;
    bool askCreate = false, fileMustExist = true, askOverwrite = true, pathMustExist = true, keepCurrentDir = false;

    const Binding* binding(Event e) const;
};

struct WindowDefinition {
    std::string id;                // "mainWindow", ...
    std::string file;              // for messages
    std::vector<UnitDef> units;    // units[0] is the window's own record
    std::vector<std::vector<int>> children;  // per unit, in definition order (upper first)
};

// What a handler is, as far as the loader checks a binding.
enum class HandlerKind : uint8_t { plain, mouse };

struct HandlerEntry {
    const char* name;
    HandlerKind kind;
    void (*plain)();
    void (*mouse)(int x, int y, int keys);
};

constexpr HandlerEntry handler(const char* name, void (*fn)()) { return {name, HandlerKind::plain, fn, nullptr}; }
constexpr HandlerEntry handler(const char* name, void (*fn)(int, int, int)) { return {name, HandlerKind::mouse, nullptr, fn}; }

struct LoadResult {
    std::vector<WindowDefinition> windows;
    std::vector<std::string> faults;  // "file:line: message"
    bool ok() const { return faults.empty(); }
};

// Parses and checks every definition file; the file's name without its
// extension is the window's identity.
LoadResult loadDefinitions(std::span<const EmbeddedFile> files, std::span<const HandlerEntry> handlers,
                           std::span<const EmbeddedFile> assets);
