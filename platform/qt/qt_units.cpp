// Builds the native widgets of a window and its units, mirrors the properties
// the runtime changes, paints labels, pictures and panels by the rules of
// drawing.h, and reports presses, clicks, typing, edits and page changes.
#include "qt_units.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QIcon>
#include <QImageReader>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>
#include <QWindow>
#include <qdrawutil.h>

#include "drawing.h"
#include "windows_pictures.h"

namespace {

QColor qcolour(Rgb c) { return QColor(c.r, c.g, c.b); }

// The Windows button-face colour: what a unit with the default back colour shows.
QColor faceColour() { return QGuiApplication::palette().color(QPalette::Button); }

int keyState(Qt::KeyboardModifiers m)
{
    return (m & Qt::ControlModifier ? 1 : 0) | (m & Qt::ShiftModifier ? 2 : 0) | (m & Qt::AltModifier ? 4 : 0);
}

void reportPress(const UnitIdentity& id, const QMouseEvent* e, QPoint at)
{
    // A double click also comes here through mouseDoubleClickEvent; only the
    // first press of it is a new press.
    if (e->type() != QEvent::MouseButtonPress || e->button() != Qt::LeftButton || !id.owner->instance)
        return;
    NativeEvent ev(NativeEvent::Kind::pressed);
    ev.window = id.owner->instance;
    ev.unit = id.unit;
    ev.x = at.x();
    ev.y = at.y();
    ev.keys = keyState(e->modifiers());
    report(ev);
}

void reportClick(const UnitIdentity& id)
{
    NativeEvent ev(NativeEvent::Kind::clicked);
    ev.window = id.owner->instance;
    ev.unit = id.unit;
    report(ev);
}

QPixmap embeddedPicture(const std::string& name)
{
    QPixmap p;
    if (name.empty())
        return p;
    std::string_view data = findEmbedded(Runtime::get().assets(), name);
    if (std::vector<QImage> images = decodeWindowsPicture(data); !images.empty())
        return QPixmap::fromImage(images.front());
    // A picture that does not decode is left out; the loader already checked the name.
    (void)p.loadFromData(reinterpret_cast<const uchar*>(data.data()), uint(data.size()));
    return p;
}

// Every image of an icon file, so the window manager can pick the size it needs.
QIcon embeddedIcon(const std::string& name)
{
    QIcon icon;
    std::string_view data = findEmbedded(Runtime::get().assets(), name);
    if (std::vector<QImage> images = decodeWindowsPicture(data); !images.empty()) {
        for (const QImage& image : images)
            icon.addPixmap(QPixmap::fromImage(image));
        return icon;
    }
    QByteArray bytes = QByteArray::fromRawData(data.data(), qsizetype(data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    int count = std::max(1, reader.imageCount());
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !reader.jumpToImage(i))
            break;
        QImage image = reader.read();
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

// Borders shared by labels, picture boxes and panels; returns the width they take.
int borderWidth(int border)
{
    switch (border) {
    case 1:
    case 2: return 2;
    case 4: return 3;
    case 3:
    case 5:
    case 6: return 1;
    default: return 0;
    }
}

void drawBorder(QPainter& p, const QRect& r, int border, const QPalette& pal)
{
    switch (border) {
    case 1: qDrawWinPanel(&p, r, pal, true); break;
    case 2: qDrawWinPanel(&p, r, pal, false); break;
    case 3: qDrawShadePanel(&p, r, pal, true, 1); break;
    case 4:
        qDrawWinPanel(&p, r, pal, false);
        qDrawShadePanel(&p, r.adjusted(2, 2, -2, -2), pal, true, 1);
        break;
    case 5:
    case 6:  // the gradient frame of labels has no stored width here: a plain line stands in
        p.setPen(Qt::black);
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(0, 0, -1, -1));
        break;
    default: break;
    }
}

template <class Base>
class UnitWidget : public Base, public UnitIdentity {
public:
    UnitWidget(NativeWindow* owner, int unit, QWidget* parent) : Base(parent), UnitIdentity(owner, unit)
    {
        // The unit a press lands on reports it; its container must not get it again.
        this->setAttribute(Qt::WA_NoMousePropagation);
    }

protected:
    void mousePressEvent(QMouseEvent* e) override
    {
        reportPress(*this, e, e->position().toPoint());
        Base::mousePressEvent(e);
    }
};

class LabelUnit : public UnitWidget<QWidget> {
public:
    LabelUnit(NativeWindow* o, int u, QWidget* parent, const UnitDef& d)
        : UnitWidget(o, u, parent), def_(d), stops_(gradientStops(d)), picture_(embeddedPicture(d.picture))
    {
    }
    void setCaption(const QString& t)
    {
        caption_ = t;
        caption_.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        setAccessibleName(caption_);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        int b = borderWidth(def_.border);
        QRect inner = rect().adjusted(b, b, -b, -b);
        if (stops_.size() >= 2 && def_.gradientMode == 2) {
            for (int x = 0; x < inner.width(); ++x)
                p.fillRect(inner.left() + x, inner.top(), 1, inner.height(), qcolour(gradientAt(stops_, inner.width(), x)));
        } else if (stops_.size() >= 2 && def_.gradientMode == 1) {
            for (int y = 0; y < inner.height(); ++y)
                p.fillRect(inner.left(), inner.top() + y, inner.width(), 1, qcolour(gradientAt(stops_, inner.height(), y)));
        } else {
            p.fillRect(inner, def_.backColour ? qcolour(*def_.backColour) : faceColour());
        }
        if (!picture_.isNull())
            p.drawPixmap(inner.topLeft(), picture_);
        drawBorder(p, rect(), def_.border, palette());

        int flags = def_.hAlign == 1 ? Qt::AlignHCenter : def_.hAlign == 2 ? Qt::AlignRight : Qt::AlignLeft;
        if (def_.wordWrap)
            flags |= Qt::TextWordWrap | Qt::AlignTop;
        else
            flags |= Qt::TextSingleLine | (def_.vAlign == 0 ? Qt::AlignTop : def_.vAlign == 2 ? Qt::AlignBottom : Qt::AlignVCenter);
        p.setPen(def_.textColour ? qcolour(*def_.textColour) : QColor(Qt::black));
        p.setFont(font());
        p.drawText(inner, flags, caption_);
    }

private:
    const UnitDef& def_;
    std::vector<Rgb> stops_;
    QPixmap picture_;
    QString caption_;
};

// Picture boxes and drawing panels: back colour, picture and border (a panel's
// picture stays at the top-left corner, display mode 0).
class PictureUnit : public UnitWidget<QWidget> {
public:
    PictureUnit(NativeWindow* o, int u, QWidget* parent, const UnitDef& d)
        : UnitWidget(o, u, parent), def_(d), picture_(embeddedPicture(d.picture))
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        int b = borderWidth(def_.border);
        QRect inner = rect().adjusted(b, b, -b, -b);
        p.fillRect(inner, def_.backColour ? qcolour(*def_.backColour) : faceColour());
        if (!picture_.isNull()) {
            Rect at = picturePlacement(def_.displayMode, inner.width(), inner.height(), picture_.width(), picture_.height());
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawPixmap(QRect(inner.left() + at.left, inner.top() + at.top, at.width, at.height), picture_);
        }
        drawBorder(p, rect(), def_.border, palette());
    }

private:
    const UnitDef& def_;
    QPixmap picture_;
};

class EditUnit : public UnitWidget<QLineEdit> {
public:
    EditUnit(NativeWindow* o, int u, QWidget* parent) : UnitWidget(o, u, parent)
    {
        // Not only typing changes the text: pasting, undo, accessibility clients
        // and on-screen keyboards set it too. Caret moves go along, so that the
        // runtime knows where the user left the caret.
        connect(this, &QLineEdit::textChanged, this, [this] { reportEdit(); });
        connect(this, &QLineEdit::cursorPositionChanged, this, [this] { reportEdit(); });
    }

    // The runtime rewrote the content (a handler, or normalisation on focus
    // loss) and says where the caret stands; what it wrote is not reported back.
    void setContent(const Unit& u)
    {
        if (qstr(u.text) != text())
            mirror(u);
    }

protected:
    // The runtime decides which typed characters an edit box takes; what it
    // refuses is dropped as if the key had produced no character.
    QString accepted(const QString& typed)
    {
        QString kept;
        for (char32_t c : typed.toUcs4()) {
            NativeEvent ev(NativeEvent::Kind::typed);
            ev.window = owner->instance;
            ev.unit = unit;
            ev.ch = c;
            if (report(ev))
                kept += QString::fromUcs4(&c, 1);
        }
        return kept;
    }

    void keyPressEvent(QKeyEvent* e) override
    {
        // Delete carries the text "\x7f" under X11, and some platforms give Ctrl
        // chords their letter as text; on the desktop the programs were made for
        // neither types a printable character, so neither is filtered (Ctrl+V pastes).
        bool chord = (e->modifiers() & Qt::ControlModifier) && !(e->modifiers() & Qt::AltModifier);
        if (e->text().isEmpty() || e->key() == Qt::Key_Delete || chord) {
            QLineEdit::keyPressEvent(e);
            return;
        }
        QString kept = accepted(e->text());
        if (kept.isEmpty()) {
            e->accept();
            return;
        }
        if (kept == e->text()) {
            QLineEdit::keyPressEvent(e);
            return;
        }
        QKeyEvent partial(e->type(), e->key(), e->modifiers(), kept, e->isAutoRepeat(), ushort(e->count()));
        QLineEdit::keyPressEvent(&partial);
        e->setAccepted(partial.isAccepted());
    }

    // Input methods deliver characters here rather than as keys; they are typed characters all the same.
    void inputMethodEvent(QInputMethodEvent* e) override
    {
        if (!e->commitString().isEmpty()) {
            QString kept = accepted(e->commitString());
            if (kept != e->commitString()) {
                QInputMethodEvent filtered(e->preeditString(), e->attributes());
                filtered.setCommitString(kept, e->replacementStart(), e->replacementLength());
                QLineEdit::inputMethodEvent(&filtered);
                return;
            }
        }
        QLineEdit::inputMethodEvent(e);
    }

private:
    void mirror(const Unit& u)
    {
        writing_ = true;
        setText(qstr(u.text));
        setCursorPosition(int(qstr(u.text.substr(0, size_t(std::clamp(u.caret, 0, int(u.text.size()))))).size()));
        writing_ = false;
    }

    void reportEdit()
    {
        if (writing_ || !owner->instance)
            return;
        const QString t = text();
        NativeEvent ev(NativeEvent::Kind::edited);
        ev.window = owner->instance;
        ev.unit = unit;
        ev.text = fromQString(t);
        ev.caret = int(fromQString(t.left(cursorPosition())).size());
        // A blocked window refuses the edit: the box shows the runtime's text again.
        if (!report(ev) && owner->instance)
            mirror(owner->instance->units[size_t(unit)]);
    }

    bool writing_ = false;
};

class ButtonUnit : public UnitWidget<QPushButton> {
public:
    ButtonUnit(NativeWindow* o, int u, QWidget* parent) : UnitWidget(o, u, parent)
    {
        setAutoDefault(false);
        connect(this, &QPushButton::clicked, this, [this] { reportClick(*this); });
    }
};

// An automatic check box whose mark the runtime owns: a click only reports, and
// the runtime toggles the state and writes it back before the handler runs.
class CheckUnit : public UnitWidget<QCheckBox> {
public:
    CheckUnit(NativeWindow* o, int u, QWidget* parent) : UnitWidget(o, u, parent)
    {
        connect(this, &QCheckBox::clicked, this, [this] { reportClick(*this); });
    }

protected:
    void nextCheckState() override {}
    // The native control takes a click anywhere in its rectangle, not only on the mark and caption.
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

// The classic tab control pads a caption by 6 px on each side; the styles'
// wider tabs would not fit the pages into the stored widths.
class TabStripStyle : public QProxyStyle {
public:
    explicit TabStripStyle(QStyle* base) : QProxyStyle(base) {}
    int pixelMetric(PixelMetric m, const QStyleOption* opt, const QWidget* w) const override
    {
        if (m == PM_TabBarTabHSpace)
            return 12;
        return QProxyStyle::pixelMetric(m, opt, w);
    }
};

QStyle* tabStripStyle()
{
    static QPointer<QStyle> style;
    if (!style) {
        style = new TabStripStyle(QStyleFactory::create(QApplication::style()->name()));
        style->setParent(qApp);
    }
    return style;
}

// The strip of a tab: its presses belong to the tab unit.
class TabStrip : public QTabBar {
public:
    TabStrip(QWidget* tab, UnitIdentity& id) : QTabBar(tab), id_(id) {}

protected:

    void mousePressEvent(QMouseEvent* e) override
    {
        reportPress(id_, e, mapToParent(e->position().toPoint()));
        QTabBar::mousePressEvent(e);
        e->accept();  // the tab already had it
    }

private:
    UnitIdentity& id_;
};

class TabUnit : public UnitWidget<QWidget> {
public:
    TabUnit(NativeWindow* o, int u, QWidget* parent, const UnitDef& d) : UnitWidget(o, u, parent), strip_(new TabStrip(this, *this))
    {
        static const QTabBar::Shape shapes[] = {QTabBar::RoundedNorth, QTabBar::RoundedSouth, QTabBar::RoundedWest, QTabBar::RoundedEast};
        strip_->setShape(shapes[std::clamp(d.tabPosition, 0, 3)]);
        strip_->setStyle(tabStripStyle());
        strip_->setDrawBase(false);
        strip_->setExpanding(false);
        strip_->setUsesScrollButtons(true);
        if (d.font)
            strip_->setFont(fontFor(*d.font));
        for (const Text& page : d.pages)
            strip_->addTab(qstr(page));
        // A tab control takes the focus when clicked; by the Tab key only as a tab stop.
        strip_->setFocusPolicy(d.tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        setFocusProxy(strip_);
        connect(strip_, &QTabBar::currentChanged, this, [this](int page) { userSelected(page); });
    }

    void showPage(int page)
    {
        syncing_ = true;
        strip_->setCurrentIndex(page);
        syncing_ = false;
        layoutStrip();
    }

    void layoutStrip()
    {
        QStyleOptionTabWidgetFrame opt = frameOption();
        strip_->setGeometry(style()->subElementRect(QStyle::SE_TabWidgetTabBar, &opt, this));
        update();
    }

protected:
    void resizeEvent(QResizeEvent*) override { layoutStrip(); }

    void paintEvent(QPaintEvent*) override
    {
        QStylePainter p(this);
        QStyleOptionTabWidgetFrame opt = frameOption();
        opt.rect = style()->subElementRect(QStyle::SE_TabWidgetTabPane, &opt, this);
        p.drawPrimitive(QStyle::PE_FrameTabWidget, opt);
    }

private:
    void userSelected(int page)
    {
        if (syncing_ || !owner->instance)
            return;
        NativeEvent ev(NativeEvent::Kind::pageSelected);
        ev.window = owner->instance;
        ev.unit = unit;
        ev.page = page;
        report(ev);
        // A blocked window refuses the change: the strip goes back to the runtime's page.
        if (owner->instance) {
            int current = owner->instance->units[size_t(unit)].currentPage;
            if (current != strip_->currentIndex())
                showPage(current);
        }
        update();
    }

    QStyleOptionTabWidgetFrame frameOption() const
    {
        QStyleOptionTabWidgetFrame opt;
        opt.initFrom(this);
        opt.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
        opt.shape = strip_->shape();
        QSize bar = strip_->sizeHint();
        bool vertical = strip_->shape() == QTabBar::RoundedWest || strip_->shape() == QTabBar::RoundedEast;
        if (vertical)
            bar.setHeight(std::min(bar.height(), height()));
        else
            bar.setWidth(std::min(bar.width(), width()));
        opt.tabBarSize = bar;
        opt.tabBarRect = strip_->geometry();
        if (strip_->currentIndex() >= 0)
            opt.selectedTabRect = strip_->tabRect(strip_->currentIndex()).translated(strip_->pos());
        return opt;
    }

    TabStrip* strip_;
    bool syncing_ = false;
};

// Stored colours go through the palette; a stored back colour must also be
// filled in by widgets that are transparent by default.
void applyColours(QWidget* widget, const UnitDef& d, QPalette::ColorRole text, QPalette::ColorRole back)
{
    QPalette pal = widget->palette();
    if (d.textColour)
        pal.setColor(text, qcolour(*d.textColour));
    if (d.backColour) {
        pal.setColor(back, qcolour(*d.backColour));
        widget->setAutoFillBackground(back == QPalette::Window);
    }
    widget->setPalette(pal);
}

QWidget* makeUnit(WindowInstance& w, NativeWindow* win, int i, QWidget* parent)
{
    const UnitDef& d = w.defOf(i);
    const Unit& u = w.units[size_t(i)];
    QWidget* widget = nullptr;
    switch (d.type) {
    case UnitType::EditBox: {
        auto* e = new EditUnit(win, i, parent);
        e->setFrame(d.border != 0);
        e->setContent(u);
        applyColours(e, d, QPalette::Text, QPalette::Base);
        widget = e;
        break;
    }
    case UnitType::Label: {
        auto* l = new LabelUnit(win, i, parent, d);
        l->setCaption(qstr(u.text));
        widget = l;
        break;
    }
    case UnitType::Button: {
        auto* b = new ButtonUnit(win, i, parent);
        b->setText(qstr(u.text));
        widget = b;
        break;
    }
    case UnitType::CheckBox: {
        auto* c = new CheckUnit(win, i, parent);
        c->setText(qstr(u.text));
        c->setChecked(u.checked);
        applyColours(c, d, QPalette::WindowText, QPalette::Window);
        widget = c;
        break;
    }
    case UnitType::GroupBox: {
        auto* g = new UnitWidget<QGroupBox>(win, i, parent);
        g->setTitle(qstr(u.text));
        applyColours(g, d, QPalette::WindowText, QPalette::Window);
        widget = g;
        break;
    }
    case UnitType::Tab: widget = new TabUnit(win, i, parent, d); break;
    case UnitType::PicBox:
    case UnitType::DrawPanel: widget = new PictureUnit(win, i, parent, d); break;
    case UnitType::window:
    case UnitType::Timer:
    case UnitType::CommonDlg: return nullptr;
    }
    widget->setObjectName(qstr(d.name));
    // Each unit has its own font: a container's stored font must not pass on to its children.
    widget->setFont(d.font ? fontFor(*d.font) : QApplication::font());
    widget->setEnabled(!d.disabled);
    if (!d.tabStop && (widget->focusPolicy() & Qt::TabFocus))
        widget->setFocusPolicy(Qt::ClickFocus);
    widget->setGeometry(d.rect.left, d.rect.top, d.rect.width, d.rect.height);
    if (auto* tab = dynamic_cast<TabUnit*>(widget))
        tab->showPage(u.currentPage);
    widget->setVisible(Runtime::get().shownLocally(w, i));
    return widget;
}

// Children are created in definition order (which is also the Tab-key order),
// then raised from the last to the first, so the first listed lies on top.
void buildChildren(WindowInstance& w, NativeWindow* win, int container, QWidget* parent)
{
    const std::vector<int>& children = w.def->children[size_t(container)];
    for (int child : children) {
        QWidget* widget = makeUnit(w, win, child, parent);
        w.units[size_t(child)].native = widget;
        if (widget)
            buildChildren(w, win, child, widget);
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if (auto* widget = static_cast<QWidget*>(w.units[size_t(*it)].native))
            widget->raise();
}

} // namespace

QString qstr(const Text& t) { return QString::fromUtf8(toUtf8(t)); }
Text fromQString(const QString& s) { return fromUtf8(s.toUtf8().toStdString()); }

NativeWindow::NativeWindow(WindowInstance& w) : instance(&w) {}

void installAccessibility()
{
    // Painted labels are static text to accessibility clients, named by their caption.
    QAccessible::installFactory([](const QString&, QObject* object) -> QAccessibleInterface* {
        if (auto* label = dynamic_cast<LabelUnit*>(object))
            return new QAccessibleWidget(label, QAccessible::StaticText);
        return nullptr;
    });
}

void NativeWindow::closeEvent(QCloseEvent* e)
{
    // The runtime decides: it raises aboutToBeDestroyed and destroys the window
    // through destroyWindow, or refuses while the window is blocked.
    e->ignore();
    if (!instance)
        return;
    NativeEvent ev(NativeEvent::Kind::closeRequest);
    ev.window = instance;
    report(ev);
}

void NativeWindow::mousePressEvent(QMouseEvent* e)
{
    UnitIdentity self(this, 0);
    reportPress(self, e, e->position().toPoint());
    QWidget::mousePressEvent(e);
}

void NativeWindow::paintEvent(QPaintEvent*)
{
    if (!instance || !instance->defOf(0).backColour)
        return;
    QPainter p(this);
    p.fillRect(rect(), qcolour(*instance->defOf(0).backColour));
}

bool report(const NativeEvent& e)
{
    Runtime* rt = Runtime::current();
    return rt && e.window && rt->handleNative(e);
}

UnitAddress unitOf(QWidget* widget)
{
    for (QWidget* x = widget; x; x = x->parentWidget()) {
        if (auto* id = dynamic_cast<UnitIdentity*>(x))
            return {id->owner->instance, id->unit};
        if (auto* win = dynamic_cast<NativeWindow*>(x))
            return {win->instance, 0};
        if (x->isWindow())
            break;
    }
    return {};
}

NativeWindow* nativeWindowOf(QObject* object)
{
    if (object->isWidgetType())
        return dynamic_cast<NativeWindow*>(static_cast<QWidget*>(object)->window());
    if (object->isWindowType()) {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (static_cast<QObject*>(top->windowHandle()) == object)
                return dynamic_cast<NativeWindow*>(top);
    }
    return nullptr;
}

QFont songFont(int pixelSize)
{
    QFont f(QStringLiteral("AR PL UMing CN"));
    f.setPixelSize(pixelSize);
    // The face carries hand-made bitmaps from 11 to 16 px, which FreeType uses
    // only for glyphs drawn without antialiasing; outlines at these sizes come
    // out as thin grey strokes.
    f.setStyleStrategy(pixelSize >= 11 && pixelSize <= 16 ? QFont::NoAntialias : QFont::PreferDefault);
    return f;
}

QFont fontFor(const FontSpec& stored)
{
    // A negative height is the character height; a positive one the cell height,
    // which is close enough to a pixel size for these layouts.
    int px = stored.height < 0 ? -stored.height : stored.height;
    QString face = qstr(stored.face);
    QFont f;
    if (face.isEmpty() || face == QStringLiteral("宋体")) {
        f = songFont(px > 0 ? px : 12);
    } else {
        f = QApplication::font();
        f.setFamilies({face == QStringLiteral("黑体") ? QStringLiteral("WenQuanYi Zen Hei") : face});
        f.setStyleStrategy(QFont::PreferDefault);
        if (px > 0)
            f.setPixelSize(px);
    }
    f.setWeight(QFont::Weight(std::clamp(stored.weight == 0 ? 400 : stored.weight, 1, 1000)));
    f.setItalic(stored.italic);
    f.setUnderline(stored.underline);
    f.setStrikeOut(stored.strikeOut);
    return f;
}

NativeWindow* buildWindow(WindowInstance& w)
{
    const UnitDef& d = w.defOf(0);
    auto* win = new NativeWindow(w);
    win->setObjectName(QString::fromStdString(w.def->id));

    Qt::WindowFlags flags = (d.borderStyle == 3 || d.borderStyle == 4 || !d.showInTaskbar) ? Qt::Tool : Qt::Window;
    flags |= Qt::CustomizeWindowHint;
    if (d.borderStyle == 0) {
        flags |= Qt::FramelessWindowHint;
    } else {
        if (!w.units[0].text.empty() || d.controlBox)
            flags |= Qt::WindowTitleHint;
        if (d.controlBox)
            flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (d.minimizeBox)
            flags |= Qt::WindowMinimizeButtonHint;
        if (d.maximizeBox)
            flags |= Qt::WindowMaximizeButtonHint;
    }
    // `movable` has no Qt counterpart: the window manager owns moving.
    win->setWindowFlags(flags);

    bool sizable = d.borderStyle == 1 || d.borderStyle == 3 || d.borderStyle == 5;
    if (sizable)
        win->resize(w.clientWidth, w.clientHeight);
    else
        win->setFixedSize(w.clientWidth, w.clientHeight);
    win->move(w.x, w.y);  // a top-level's position is that of its frame
    win->setWindowTitle(qstr(w.units[0].text));
    if (!d.icon.empty())
        win->setWindowIcon(embeddedIcon(d.icon));

    buildChildren(w, win, 0, win);
    w.native = win;
    return win;
}

void applyUnitChange(WindowInstance& w, int unit, Prop p)
{
    auto* win = static_cast<NativeWindow*>(w.native);
    if (!win)
        return;
    const Unit& u = w.units[size_t(unit)];
    if (unit == 0) {
        if (p == Prop::caption)
            win->setWindowTitle(qstr(u.text));
        else if (p == Prop::visible && win->shownOnce)
            win->setVisible(u.visible);
        return;
    }
    auto* widget = static_cast<QWidget*>(u.native);
    if (!widget)
        return;  // timers and common dialogs have nothing on screen
    switch (p) {
    case Prop::caption:
    case Prop::content:
        if (auto* e = dynamic_cast<EditUnit*>(widget))
            e->setContent(u);
        else if (auto* l = dynamic_cast<LabelUnit*>(widget))
            l->setCaption(qstr(u.text));
        else if (auto* b = dynamic_cast<QAbstractButton*>(widget))
            b->setText(qstr(u.text));
        else if (auto* g = dynamic_cast<QGroupBox*>(widget))
            g->setTitle(qstr(u.text));
        break;
    case Prop::checked:
        if (auto* c = dynamic_cast<QCheckBox*>(widget))
            c->setChecked(u.checked);
        break;
    case Prop::currentPage:
        if (auto* t = dynamic_cast<TabUnit*>(widget))
            t->showPage(u.currentPage);
        break;
    case Prop::visible: widget->setVisible(Runtime::get().shownLocally(w, unit)); break;
    case Prop::interval:
    case Prop::fileName:
    case Prop::alwaysOnTop: break;
    }
}
