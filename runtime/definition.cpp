#include "definition.h"

#include <charconv>
#include <functional>
#include <map>
#include <unordered_map>

namespace {

constexpr uint32_t bit(UnitType t) { return 1u << static_cast<uint32_t>(t); }
constexpr uint32_t kAll = 0x7FF;
constexpr uint32_t kContainers = bit(UnitType::window) | bit(UnitType::GroupBox) | bit(UnitType::DrawPanel) | bit(UnitType::Tab);
constexpr uint32_t kInvisibleTypes = bit(UnitType::Timer) | bit(UnitType::CommonDlg);

const std::map<std::string, UnitType, std::less<>> kTypes = {
    {"window", UnitType::window},   {"EditBox", UnitType::EditBox},     {"PicBox", UnitType::PicBox},
    {"DrawPanel", UnitType::DrawPanel}, {"GroupBox", UnitType::GroupBox}, {"Label", UnitType::Label},
    {"Button", UnitType::Button},   {"CheckBox", UnitType::CheckBox},   {"Tab", UnitType::Tab},
    {"CommonDlg", UnitType::CommonDlg}, {"Timer", UnitType::Timer},
};

struct Token {
    std::string text;
    bool quoted = false;
};

// Splits a line into words and quoted strings ("\r", "\n", "\t", "\"" and "\\" escapes).
bool tokenize(const std::string& line, std::vector<Token>& out, std::string& error)
{
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#' && out.empty())
            return true;
        Token t;
        if (c == '"') {
            t.quoted = true;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char d = line[i++];
                if (d == '"') {
                    closed = true;
                    break;
                }
                if (d == '\\' && i < line.size()) {
                    char e = line[i++];
                    switch (e) {
                    case 'r': t.text += '\r'; break;
                    case 'n': t.text += '\n'; break;
                    case 't': t.text += '\t'; break;
                    case '"': t.text += '"'; break;
                    case '\\': t.text += '\\'; break;
                    default:
                        error = std::string("unknown escape \\") + e;
                        return false;
                    }
                    continue;
                }
                t.text += d;
            }
            if (!closed) {
                error = "unterminated string";
                return false;
            }
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                t.text += line[i++];
        }
        out.push_back(std::move(t));
    }
    return true;
}

struct Ctx {
    std::vector<std::string>* faults;
    std::string where;  // "file:line"
    std::span<const EmbeddedFile> assets;
    void fault(const std::string& msg) const { faults->push_back(where + ": " + msg); }
};

bool parseInt(const Token& t, int64_t& v)
{
    if (t.quoted || t.text.empty())
        return false;
    const char* b = t.text.data();
    const char* e = b + t.text.size();
    auto r = std::from_chars(b, e, v);
    return r.ec == std::errc() && r.ptr == e;
}

using Args = std::span<const Token>;
using Setter = std::function<bool(UnitDef&, Args, const Ctx&)>;

struct PropertySpec {
    uint32_t types;
    Setter set;
};

bool wantCount(Args a, size_t n, const Ctx& c)
{
    if (a.size() != n) {
        c.fault("expects " + std::to_string(n) + " value(s), got " + std::to_string(a.size()));
        return false;
    }
    return true;
}

Setter textField(Text UnitDef::*f)
{
    return [f](UnitDef& u, Args a, const Ctx& c) {
        if (!wantCount(a, 1, c))
            return false;
        if (!a[0].quoted) {
            c.fault("expects a quoted text");
            return false;
        }
        u.*f = fromUtf8(a[0].text);
        return true;
    };
}

Setter boolField(bool UnitDef::*f)
{
    return [f](UnitDef& u, Args a, const Ctx& c) {
        if (!wantCount(a, 1, c))
            return false;
        if (a[0].text == "true" && !a[0].quoted)
            u.*f = true;
        else if (a[0].text == "false" && !a[0].quoted)
            u.*f = false;
        else {
            c.fault("expects true or false, got '" + a[0].text + "'");
            return false;
        }
        return true;
    };
}

template <typename T>
Setter intField(T UnitDef::*f, int64_t lo, int64_t hi)
{
    return [f, lo, hi](UnitDef& u, Args a, const Ctx& c) {
        if (!wantCount(a, 1, c))
            return false;
        int64_t v;
        if (!parseInt(a[0], v) || v < lo || v > hi) {
            c.fault("expects a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) + ", got '" + a[0].text + "'");
            return false;
        }
        u.*f = static_cast<T>(v);
        return true;
    };
}

bool parseColour(const Token& t, Colour& out, const Ctx& c)
{
    if (!t.quoted && t.text == "default") {
        out.reset();
        return true;
    }
    auto hex = [](char ch) -> int {
        if (ch >= '0' && ch <= '9') return ch - '0';
        if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
        if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
        return -1;
    };
    if (t.quoted || t.text.size() != 7 || t.text[0] != '#') {
        c.fault("expects a colour #RRGGBB or default, got '" + t.text + "'");
        return false;
    }
    int v[6];
    for (int i = 0; i < 6; ++i) {
        v[i] = hex(t.text[i + 1]);
        if (v[i] < 0) {
            c.fault("expects a colour #RRGGBB or default, got '" + t.text + "'");
            return false;
        }
    }
    out = Rgb{uint8_t(v[0] * 16 + v[1]), uint8_t(v[2] * 16 + v[3]), uint8_t(v[4] * 16 + v[5])};
    return true;
}

Setter colourField(Colour UnitDef::*f)
{
    return [f](UnitDef& u, Args a, const Ctx& c) { return wantCount(a, 1, c) && parseColour(a[0], u.*f, c); };
}

Setter assetField(std::string UnitDef::*f)
{
    return [f](UnitDef& u, Args a, const Ctx& c) {
        if (!wantCount(a, 1, c))
            return false;
        if (findEmbedded(c.assets, a[0].text).empty()) {
            c.fault("no asset named '" + a[0].text + "'");
            return false;
        }
        u.*f = a[0].text;
        return true;
    };
}

const std::map<std::string, PropertySpec, std::less<>>& properties()
{
    using U = UnitType;
    static const std::map<std::string, PropertySpec, std::less<>> table = {
        {"rect", {kAll, [](UnitDef& u, Args a, const Ctx& c) {
             if (!wantCount(a, 4, c))
                 return false;
             int64_t v[4];
             for (int i = 0; i < 4; ++i)
                 if (!parseInt(a[i], v[i]) || v[i] < INT32_MIN || v[i] > INT32_MAX) {
                     c.fault("rect expects four whole numbers");
                     return false;
                 }
             u.rect = {int(v[0]), int(v[1]), int(v[2]), int(v[3])};
             return true;
         }}},
        {"visible", {kAll, boolField(&UnitDef::visible)}},
        {"disabled", {kAll, boolField(&UnitDef::disabled)}},
        {"tabStop", {kAll, boolField(&UnitDef::tabStop)}},
        {"comment", {kAll, textField(&UnitDef::comment)}},
        {"tag", {kAll, textField(&UnitDef::tag)}},
        // window
        {"title", {bit(U::window) | bit(U::CommonDlg), [](UnitDef& u, Args a, const Ctx& c) {
             return textField(u.type == UnitType::window ? &UnitDef::caption : &UnitDef::title)(u, a, c);
         }}},
        {"borderStyle", {bit(U::window), intField(&UnitDef::borderStyle, 0, 6)}},
        {"maximizeBox", {bit(U::window), boolField(&UnitDef::maximizeBox)}},
        {"minimizeBox", {bit(U::window), boolField(&UnitDef::minimizeBox)}},
        {"controlBox", {bit(U::window), boolField(&UnitDef::controlBox)}},
        {"startPosition", {bit(U::window), intField(&UnitDef::startPosition, 0, 3)}},
        {"movable", {bit(U::window), boolField(&UnitDef::movable)}},
        {"enterMovesFocus", {bit(U::window), boolField(&UnitDef::enterMovesFocus)}},
        {"escapeCloses", {bit(U::window), boolField(&UnitDef::escapeCloses)}},
        {"showInTaskbar", {bit(U::window), boolField(&UnitDef::showInTaskbar)}},
        {"alwaysOnTop", {bit(U::window), boolField(&UnitDef::alwaysOnTop)}},
        {"icon", {bit(U::window), assetField(&UnitDef::icon)}},
        // shared look
        {"caption", {bit(U::Label) | bit(U::Button) | bit(U::CheckBox) | bit(U::GroupBox), textField(&UnitDef::caption)}},
        {"content", {bit(U::EditBox), textField(&UnitDef::caption)}},
        {"textColor", {bit(U::EditBox) | bit(U::Label) | bit(U::CheckBox) | bit(U::GroupBox), colourField(&UnitDef::textColour)}},
        {"backColor", {bit(U::window) | bit(U::EditBox) | bit(U::Label) | bit(U::CheckBox) | bit(U::GroupBox) | bit(U::PicBox) | bit(U::DrawPanel),
                       colourField(&UnitDef::backColour)}},
        {"border", {bit(U::EditBox) | bit(U::Label) | bit(U::PicBox) | bit(U::DrawPanel), intField(&UnitDef::border, 0, 6)}},
        {"hAlign", {bit(U::Label) | bit(U::Button) | bit(U::CheckBox), intField(&UnitDef::hAlign, 0, 2)}},
        {"vAlign", {bit(U::Label) | bit(U::Button) | bit(U::CheckBox), intField(&UnitDef::vAlign, 0, 2)}},
        {"wordWrap", {bit(U::Label), boolField(&UnitDef::wordWrap)}},
        {"gradientMode", {bit(U::Label), intField(&UnitDef::gradientMode, 0, 2)}},
        {"gradientColors", {bit(U::Label), [](UnitDef& u, Args a, const Ctx& c) {
             if (!wantCount(a, 3, c))
                 return false;
             for (int i = 0; i < 3; ++i)
                 if (!parseColour(a[i], u.gradient[i], c))
                     return false;
             return true;
         }}},
        {"font", {bit(U::EditBox) | bit(U::Label) | bit(U::Button) | bit(U::CheckBox) | bit(U::GroupBox) | bit(U::Tab) | bit(U::DrawPanel),
                  [](UnitDef& u, Args a, const Ctx& c) {
                      // font "FACE" HEIGHT [WEIGHT] [bold] [italic] [underline] [strikeout]
                      if (a.size() < 2 || !a[0].quoted) {
                          c.fault("font expects a quoted face and a height");
                          return false;
                      }
                      FontSpec f;
                      f.face = fromUtf8(a[0].text);
                      int64_t h;
                      if (!parseInt(a[1], h) || h < -1000 || h > 1000) {
                          c.fault("font height must be a whole number");
                          return false;
                      }
                      f.height = int(h);
                      for (size_t i = 2; i < a.size(); ++i) {
                          int64_t w;
                          if (a[i].text == "bold") f.weight = 700;
                          else if (a[i].text == "italic") f.italic = true;
                          else if (a[i].text == "underline") f.underline = true;
                          else if (a[i].text == "strikeout") f.strikeOut = true;
                          else if (parseInt(a[i], w) && w >= 0 && w <= 1000) f.weight = int(w);
                          else {
                              c.fault("unknown font option '" + a[i].text + "'");
                              return false;
                          }
                      }
                      u.font = f;
                      return true;
                  }}},
        {"checked", {bit(U::CheckBox), boolField(&UnitDef::checked)}},
        {"inputMode", {bit(U::EditBox), intField(&UnitDef::inputMode, 0, 7)}},
        {"interval", {bit(U::Timer), intField(&UnitDef::interval, 0, INT32_MAX)}},
        {"currentPage", {bit(U::Tab), intField(&UnitDef::currentPage, 0, 1000)}},
        {"tabPosition", {bit(U::Tab), intField(&UnitDef::tabPosition, 0, 3)}},
        {"multiRow", {bit(U::Tab), boolField(&UnitDef::multiRow)}},
        {"pages", {bit(U::Tab), [](UnitDef& u, Args a, const Ctx& c) {
             if (a.empty()) {
                 c.fault("pages expects one or more quoted captions");
                 return false;
             }
             u.pages.clear();
             for (const Token& t : a) {
                 if (!t.quoted) {
                     c.fault("pages expects quoted captions");
                     return false;
                 }
                 u.pages.push_back(fromUtf8(t.text));
             }
             return true;
         }}},
        {"picture", {bit(U::PicBox) | bit(U::Label) | bit(U::DrawPanel), assetField(&UnitDef::picture)}},
        {"displayMode", {bit(U::PicBox), intField(&UnitDef::displayMode, 0, 2)}},
        // CommonDlg
        {"dialogKind", {bit(U::CommonDlg), intField(&UnitDef::dialogKind, 0, 0)}},
        {"fileName", {bit(U::CommonDlg), textField(&UnitDef::fileName)}},
        {"filter", {bit(U::CommonDlg), textField(&UnitDef::filter)}},
        {"filterIndex", {bit(U::CommonDlg), intField(&UnitDef::filterIndex, 0, 1000)}},
        {"initialDir", {bit(U::CommonDlg), textField(&UnitDef::initialDir)}},
        {"defaultExt", {bit(U::CommonDlg), textField(&UnitDef::defaultExt)}},
        {"askCreate", {bit(U::CommonDlg), boolField(&UnitDef::askCreate)}},
        {"fileMustExist", {bit(U::CommonDlg), boolField(&UnitDef::fileMustExist)}},
        {"askOverwrite", {bit(U::CommonDlg), boolField(&UnitDef::askOverwrite)}},
        {"pathMustExist", {bit(U::CommonDlg), boolField(&UnitDef::pathMustExist)}},
        {"keepCurrentDir", {bit(U::CommonDlg), boolField(&UnitDef::keepCurrentDir)}},
    };
    return table;
}

const std::map<std::string, std::pair<Event, uint32_t>, std::less<>> kEvents = {
    {"created", {Event::created, bit(UnitType::window)}},
    {"aboutToBeDestroyed", {Event::aboutToBeDestroyed, bit(UnitType::window)}},
    {"clicked", {Event::clicked, bit(UnitType::Button) | bit(UnitType::CheckBox)}},
    {"leftButtonDown", {Event::leftButtonDown, kAll & ~kInvisibleTypes}},
    {"tick", {Event::tick, bit(UnitType::Timer)}},
};

struct PendingParent {
    std::string name;  // UTF-8 as written; empty: the window
    int page = -1;
    int line = 0;
};

void loadOne(const EmbeddedFile& file, std::span<const HandlerEntry> handlers, std::span<const EmbeddedFile> assets,
             LoadResult& result)
{
    WindowDefinition def;
    def.file = std::string(file.name);
    def.id = def.file.substr(0, def.file.find('.'));
    Ctx ctx{&result.faults, "", assets};
    std::vector<PendingParent> parents;
    std::unordered_map<std::string, int> byName;  // UTF-8 name -> index
    size_t faultsBefore = result.faults.size();

    std::string_view text = file.data;
    int lineNo = 0;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line(text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos));
        pos = nl == std::string_view::npos ? text.size() + 1 : nl + 1;
        ++lineNo;
        ctx.where = def.file + ":" + std::to_string(lineNo);
        std::vector<Token> toks;
        std::string err;
        if (!tokenize(line, toks, err)) {
            ctx.fault(err);
            continue;
        }
        if (toks.empty())
            continue;
        const std::string& key = toks[0].text;
        auto type = kTypes.find(key);
        if (type != kTypes.end() && !toks[0].quoted) {
            UnitDef u;
            u.type = type->second;
            u.line = lineNo;
            u.tabStop = u.type == UnitType::EditBox || u.type == UnitType::CheckBox || u.type == UnitType::Button;
            if (u.type == UnitType::Label)
                u.backColour.reset();
            if (u.type == UnitType::EditBox)
                u.border = 1, u.backColour = Rgb{255, 255, 255};
            if (u.type == UnitType::Button)
                u.hAlign = 1;
            bool isWindow = u.type == UnitType::window;
            if (isWindow != def.units.empty())
                ctx.fault(isWindow ? "the window record must come first and only once" : "the first record must be the window's own");
            if (isWindow) {
                if (toks.size() != 1)
                    ctx.fault("the window's own record has no name");
            } else if (toks.size() != 2) {
                ctx.fault(std::string("a ") + key + " record needs one stored name");
            } else {
                u.name = fromUtf8(toks[1].text);
                if (byName.count(toks[1].text))
                    ctx.fault("the name '" + toks[1].text + "' is used twice");
                byName[toks[1].text] = int(def.units.size());
            }
            def.units.push_back(std::move(u));
            parents.push_back({"", -1, lineNo});
            continue;
        }
        if (def.units.empty()) {
            ctx.fault("'" + key + "' before the window record");
            continue;
        }
        UnitDef& u = def.units.back();
        Args args(toks.data() + 1, toks.size() - 1);
        if (key == "parent") {
            if (u.type == UnitType::window) {
                ctx.fault("the window has no parent");
                continue;
            }
            int64_t page = -1;
            if (args.empty() || args.size() > 2 || (args.size() == 2 && (!parseInt(args[1], page) || page < 0))) {
                ctx.fault("parent expects a unit name (or window) and, for a tab, a page number");
                continue;
            }
            parents.back() = {args[0].text == "window" ? "" : args[0].text, int(page), lineNo};
            continue;
        }
        if (key == "on") {
            if (args.size() != 2) {
                ctx.fault("on expects an event and a handler name");
                continue;
            }
            auto ev = kEvents.find(args[0].text);
            if (ev == kEvents.end()) {
                ctx.fault("unknown event '" + args[0].text + "'");
                continue;
            }
            if (!(ev->second.second & bit(u.type))) {
                ctx.fault(std::string("a ") + unitTypeName(u.type) + " has no event " + args[0].text);
                continue;
            }
            const HandlerEntry* h = nullptr;
            for (const HandlerEntry& e : handlers)
                if (args[1].text == e.name)
                    h = &e;
            if (!h) {
                ctx.fault("no handler named '" + args[1].text + "'");
                continue;
            }
            HandlerKind want = ev->second.first == Event::leftButtonDown ? HandlerKind::mouse : HandlerKind::plain;
            if (h->kind != want) {
                ctx.fault("handler '" + args[1].text + "' does not take the arguments of " + args[0].text);
                continue;
            }
            if (u.binding(ev->second.first)) {
                ctx.fault("event " + args[0].text + " is bound twice");
                continue;
            }
            u.bindings.push_back({ev->second.first, args[1].text, lineNo});
            continue;
        }
        auto prop = properties().find(key);
        if (prop == properties().end()) {
            ctx.fault("unknown property '" + key + "'");
            continue;
        }
        if (!(prop->second.types & bit(u.type))) {
            ctx.fault(std::string("a ") + unitTypeName(u.type) + " has no property " + key);
            continue;
        }
        prop->second.set(u, args, ctx);
    }

    if (def.units.empty()) {
        ctx.where = def.file + ":1";
        ctx.fault("no window record");
    }
    // Parents may be listed after their children, so they are resolved last.
    def.children.resize(def.units.size());
    for (size_t i = 1; i < def.units.size(); ++i) {
        UnitDef& u = def.units[i];
        const PendingParent& p = parents[i];
        ctx.where = def.file + ":" + std::to_string(u.line);
        int idx = 0;
        if (!p.name.empty()) {
            auto it = byName.find(p.name);
            if (it == byName.end()) {
                ctx.fault("no parent named '" + p.name + "'");
                continue;
            }
            idx = it->second;
        }
        const UnitDef& par = def.units[size_t(idx)];
        if (!(bit(par.type) & kContainers)) {
            ctx.fault(std::string("a ") + unitTypeName(par.type) + " cannot hold other units");
            continue;
        }
        if (par.type == UnitType::Tab) {
            if (p.page < 0 || p.page >= int(par.pages.size())) {
                ctx.fault("a unit on a tab needs a page from 0 to " + std::to_string(int(par.pages.size()) - 1));
                continue;
            }
        } else if (p.page >= 0) {
            ctx.fault("a page number is only for a tab parent");
            continue;
        }
        u.parent = idx;
        u.page = p.page;
        def.children[size_t(idx)].push_back(int(i));
    }
    // A parent chain must end at the window.
    for (size_t i = 1; i < def.units.size(); ++i) {
        int steps = 0;
        int p = def.units[i].parent;
        while (p > 0 && steps++ < int(def.units.size()))
            p = def.units[size_t(p)].parent;
        if (p != 0 && def.units[i].parent >= 0) {
            ctx.where = def.file + ":" + std::to_string(def.units[i].line);
            ctx.fault("the parents of this unit form a cycle");
        }
    }
    for (const UnitDef& u : def.units)
        if (u.type == UnitType::Tab && u.currentPage >= int(std::max<size_t>(u.pages.size(), 1))) {
            ctx.where = def.file + ":" + std::to_string(u.line);
            ctx.fault("currentPage lies beyond the pages");
        }
    if (result.faults.size() == faultsBefore)
        result.windows.push_back(std::move(def));
}

} // namespace

const char* unitTypeName(UnitType t)
{
    for (const auto& [name, type] : kTypes)
        if (type == t)
            return name.c_str();
    return "?";
}

const Binding* UnitDef::binding(Event e) const
{
    for (const Binding& b : bindings)
        if (b.event == e)
            return &b;
    return nullptr;
}

LoadResult loadDefinitions(std::span<const EmbeddedFile> files, std::span<const HandlerEntry> handlers,
                           std::span<const EmbeddedFile> assets)
{
    LoadResult result;
    for (const EmbeddedFile& f : files)
        loadOne(f, handlers, assets, result);
    return result;
}
