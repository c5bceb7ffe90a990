#pragma once
// The widgets behind the runtime's windows and units, shared by the two files of
// the Qt backend: the top-level window widget, the identity every unit widget
// carries, and the functions that build and update them.
#include <QWidget>

#include "runtime.h"

class QFont;

// The native window of one loaded window. `instance` is cleared as soon as the
// runtime destroys the window, so late Qt events find no owner and are dropped.
class NativeWindow : public QWidget {
public:
    explicit NativeWindow(WindowInstance& w);

    WindowInstance* instance = nullptr;
    bool blocked = false;
    bool topmost = false;  // whether WindowStaysOnTopHint is applied
    bool shownOnce = false;

protected:
    void closeEvent(QCloseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
};

// Carried by every unit widget, so that input can be traced back to its unit.
struct UnitIdentity {
    UnitIdentity(NativeWindow* o, int u) : owner(o), unit(u) {}
    virtual ~UnitIdentity() = default;
    NativeWindow* owner;
    int unit;
};

struct UnitAddress {
    WindowInstance* window = nullptr;
    int unit = -1;
};

// The unit a widget belongs to (itself, or the unit that contains it, such as a
// tab's strip); no window when it is none of ours or its window is gone.
UnitAddress unitOf(QWidget* widget);
// The window widget of ours that an object (widget or native window) belongs to.
NativeWindow* nativeWindowOf(QObject* object);

// Texts to and from Qt.
QString qstr(const Text& t);
Text fromQString(const QString& s);

// Reports input to the runtime; false when there is no runtime or no window.
bool report(const NativeEvent& e);

// Builds the window with every unit, hidden; stores the widgets in the `native` fields.
NativeWindow* buildWindow(WindowInstance& w);
// Mirrors a property the runtime changed.
void applyUnitChange(WindowInstance& w, int unit, Prop p);

// Makes the painted units known to accessibility clients; once per application.
void installAccessibility();

// The Song face that stands for "宋体", drawn solid at the sizes it has bitmaps for.
QFont songFont(int pixelSize);
// The font of a stored font record, with the Windows faces mapped to ours.
QFont fontFor(const FontSpec& stored);
