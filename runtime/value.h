#pragma once
// A typed value as the programs pass it to the basic services and unit properties.
#include <cstdint>
#include <string_view>
#include <variant>

#include "text.h"

// Names a window by its definition identity ("mainWindow", "aboutWindow", ...).
struct WindowId {
    std::string_view name;
};

// A unit of a window, by stored name; the window's own record has the empty name.
struct UnitRef {
    WindowId window;
    std::string_view name;
};

// A counted run of bytes (the embedded default sound is one).
struct ByteSet {
    std::string_view bytes;
};

class Value {
public:
    enum class Kind { absent, text, integer, boolean, number, unit, bytes };

    Value() = default;
    Value(const Text& t) : v_(t) {}
    Value(Text&& t) : v_(std::move(t)) {}
    Value(const char* t) : v_(Text(t ? t : "")) {}
    Value(int32_t i) : v_(int64_t{i}) {}
    Value(int64_t i) : v_(i) {}
    Value(bool b) : v_(b) {}
    Value(double d) : v_(d) {}
    Value(UnitRef u) : v_(u) {}
    Value(ByteSet b) : v_(b) {}

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool isAbsent() const { return kind() == Kind::absent; }

    // Accessors for the kind the caller expects; other kinds give the neutral value.
    Text text() const;
    int64_t integer() const;
    bool boolean() const;

    const std::variant<std::monostate, Text, int64_t, bool, double, UnitRef, ByteSet>& raw() const { return v_; }

private:
    std::variant<std::monostate, Text, int64_t, bool, double, UnitRef, ByteSet> v_;
};
