#include "FormOptions.h"

#include "platform/IniFile.h"
#include "support/LanguageFiles.h"

#include <QAbstractButton>
#include <QAction>
#include <QDockWidget>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMetaProperty>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolBox>
#include <QToolButton>
#include <cerrno>
#include <functional>
#include <vector>

namespace morvane {

namespace {

const QString kMainFormName = QStringLiteral("Form1");
constexpr const char* kRunTimeTextProperty = "morvaneRunTimeText";

struct TextProperty
{
    const char* name;
    std::function<QString()> get;
    std::function<void(const QString&)> set;
};

struct NumberProperty
{
    QString name;
    std::function<int()> get;
    // Returns false for a value the property cannot take.
    std::function<bool(int)> set;
};

enum class Visit
{
    Skip,         // nothing here, nor below
    Descend,      // below follows when walking recursively
    DescendAlways // below follows whatever the walk's recursion says
};

bool IsUnnamed(const QObject* o)
{
    const QString name = o->objectName();
    return name.isEmpty() || name.startsWith(QLatin1String("qt_"));
}

// Containers only arrange the objects placed on them and own none of them, so an
// unnamed container does not hide what sits on it.
bool IsContainer(const QObject* o)
{
    if (qobject_cast<const QLayout*>(o))
        return true;
    if (!o->isWidgetType())
        return false;
    const QMetaObject* mo = o->metaObject();
    if (mo == &QWidget::staticMetaObject || mo == &QFrame::staticMetaObject ||
        mo == &QScrollArea::staticMetaObject)
        return true;
    return qobject_cast<const QStackedWidget*>(o) || qobject_cast<const QSplitter*>(o) ||
           qobject_cast<const QGroupBox*>(o) || qobject_cast<const QTabWidget*>(o) ||
           qobject_cast<const QToolBar*>(o) || qobject_cast<const QMenuBar*>(o) ||
           qobject_cast<const QStatusBar*>(o) || qobject_cast<const QDockWidget*>(o) ||
           qobject_cast<const QToolBox*>(o);
}

// A dialog a window owns is a window of its own with a section of its own, never part
// of its owner's; a menu belongs to the window it drops from.
bool OwnWindow(const QObject* o)
{
    const auto* w = qobject_cast<const QWidget*>(o);
    return w && w->isWindow() && !qobject_cast<const QMenu*>(w);
}

void Walk(QObject* o, bool recurse, const std::function<Visit(QObject*)>& visit)
{
    Visit v = Visit::Descend;
    if (IsUnnamed(o)) {
        if (!IsContainer(o))
            return;
    } else {
        v = visit(o);
        if (v == Visit::Skip)
            return;
    }
    if (!recurse && v != Visit::DescendAlways)
        return;
    const QObjectList children = o->children();
    for (QObject* child : children) {
        if (!OwnWindow(child))
            Walk(child, recurse, visit);
    }
}

// A text property read and written through a getter and a setter of the object's class.
template <class T>
TextProperty Accessors(const char* name, T* o, QString (T::*get)() const, void (T::*set)(const QString&))
{
    return {name, [o, get] { return (o->*get)(); },
            [o, set](const QString& s) {
                (o->*set)(s);
            }};
}

// A Q_PROPERTY of the object's own class hierarchy by exact name and text type.
bool MetaTextProperty(QObject* o, const char* name, TextProperty& out)
{
    const QMetaObject* mo = o->metaObject();
    const int index = mo->indexOfProperty(name);
    if (index < 0)
        return false;
    const QMetaProperty p = mo->property(index);
    if (p.metaType().id() != QMetaType::QString || !p.isReadable() || !p.isWritable())
        return false;
    out = {name, [o, p] { return p.read(o).toString(); },
           [o, p](const QString& s) {
               p.write(o, s);
           }};
    return true;
}

QTabWidget* TabWidgetOf(QWidget* page)
{
    auto* stack = qobject_cast<QStackedWidget*>(page->parentWidget());
    auto* tabs = stack ? qobject_cast<QTabWidget*>(stack->parentWidget()) : nullptr;
    return tabs && tabs->indexOf(page) >= 0 ? tabs : nullptr;
}

bool CaptionProperty(QObject* o, bool isForm, TextProperty& out)
{
    if (MetaTextProperty(o, "Caption", out))
        return true;
    const char* name = "Caption";
    if (auto* a = qobject_cast<QAction*>(o)) {
        out = Accessors(name, a, &QAction::text, &QAction::setText);
        return true;
    }
    auto* w = qobject_cast<QWidget*>(o);
    if (!w)
        return false;
    if (auto* m = qobject_cast<QMenu*>(w)) {
        out = Accessors(name, m, &QMenu::title, &QMenu::setTitle);
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        out = Accessors(name, g, &QGroupBox::title, &QGroupBox::setTitle);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        out = Accessors(name, l, &QLabel::text, &QLabel::setText);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        out = Accessors(name, b, &QAbstractButton::text, &QAbstractButton::setText);
    } else if (QTabWidget* tabs = TabWidgetOf(w)) {
        out = {name, [tabs, w] { return tabs->tabText(tabs->indexOf(w)); },
               [tabs, w](const QString& s) {
                   tabs->setTabText(tabs->indexOf(w), s);
               }};
    } else if (isForm || w->isWindow() || qobject_cast<QDockWidget*>(w)) {
        out = Accessors(name, w, &QWidget::windowTitle, &QWidget::setWindowTitle);
    } else {
        return false;
    }
    return true;
}

bool HintProperty(QObject* o, TextProperty& out)
{
    if (MetaTextProperty(o, "Hint", out))
        return true;
    const char* name = "Hint";
    // An action's tool tip falls back to its text, so the status tip is what was set.
    if (auto* a = qobject_cast<QAction*>(o)) {
        out = {name, [a] { return a->statusTip(); },
               [a](const QString& s) {
                   a->setStatusTip(s);
                   a->setToolTip(s);
               }};
        return true;
    }
    if (auto* w = qobject_cast<QWidget*>(o)) {
        out = Accessors(name, w, &QWidget::toolTip, &QWidget::setToolTip);
        return true;
    }
    return false;
}

std::vector<TextProperty> TextProperties(QObject* o, bool isForm)
{
    std::vector<TextProperty> props;
    TextProperty p;
    if (CaptionProperty(o, isForm, p))
        props.push_back(p);
    if (HintProperty(o, p))
        props.push_back(p);
    return props;
}

bool RunTimeText(const QObject* o)
{
    return o->property(kRunTimeTextProperty).toBool();
}

bool BoundToAction(QObject* o)
{
    auto* button = qobject_cast<QToolButton*>(o);
    return button && button->defaultAction();
}

std::string Key(const QObject* o, const char* property)
{
    return o->objectName().toStdString() + "." + property;
}

bool Storable(const QString& text)
{
    return !text.isEmpty() && text != QLatin1String("-") && !text.contains(QLatin1Char('\n')) &&
           !text.contains(QLatin1Char('\r'));
}

NumberProperty Number(const char* name, std::function<int()> get, std::function<bool(int)> set)
{
    return {QString::fromLatin1(name), std::move(get), std::move(set)};
}

// An on/off setting read as 1 or 0; any value but 0 turns it on.
template <class T>
NumberProperty Switch(const char* name, T* o, std::function<bool()> isOn, void (T::*set)(bool))
{
    return Number(
        name, [isOn] { return isOn() ? 1 : 0; },
        [o, set](int v) {
            (o->*set)(v != 0);
            return true;
        });
}

// Position and size without the frame, whose size the desktop may learn only later; a
// maximized or minimized window gives the bounds it returns to.
QRect Bounds(const QWidget* w)
{
    if (w->isWindow() &&
        (w->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))) {
        const QRect normal = w->normalGeometry();
        if (normal.isValid())
            return normal;
    }
    return w->geometry();
}

// One side of a widget's bounds; a size is never negative. A side beyond what any window
// can have is refused: the rectangle's own sums (left + width) would overflow.
NumberProperty BoundsSide(const char* name, QWidget* w, int (QRect::*get)() const, void (QRect::*set)(int),
                          bool isSize)
{
    return Number(
        name, [w, get] { return (Bounds(w).*get)(); },
        [w, set, isSize](int v) {
            if ((isSize && v < 0) || v > QWIDGETSIZE_MAX || v < -QWIDGETSIZE_MAX)
                return false;
            QRect r = Bounds(w);
            (r.*set)(v);
            w->setGeometry(r);
            return true;
        });
}

int WindowStateOrdinal(const QWidget* w)
{
    const Qt::WindowStates s = w->windowState();
    if (s & Qt::WindowMaximized)
        return 2;
    if (s & Qt::WindowMinimized)
        return 1;
    return 0;
}

bool SetWindowStateOrdinal(QWidget* w, int value)
{
    static const Qt::WindowState kStates[] = {Qt::WindowNoState, Qt::WindowMinimized, Qt::WindowMaximized};
    if (value < 0 || value > 2)
        return false;
    const Qt::WindowStates keep =
        w->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    w->setWindowState(keep | kStates[value]);
    return true;
}

// Integer, boolean and enumeration Q_PROPERTYs whose names begin with a capital: the
// toolkit's own properties never do, so these are the ones a class of ours declares.
void AddOwnNumberProperties(QObject* o, std::vector<NumberProperty>& props)
{
    const QMetaObject* mo = o->metaObject();
    for (int i = 0; i < mo->propertyCount(); ++i) {
        const QMetaProperty p = mo->property(i);
        const QString name = QString::fromLatin1(p.name());
        if (name.isEmpty() || !name.at(0).isUpper() || !p.isReadable() || !p.isWritable())
            continue;
        const int type = p.metaType().id();
        const bool isEnum = p.isEnumType() && !p.isFlagType();
        if (type != QMetaType::Int && type != QMetaType::UInt && type != QMetaType::Bool && !isEnum)
            continue;
        bool known = false;
        for (const NumberProperty& existing : props)
            known = known || existing.name == name;
        if (known)
            continue;
        props.push_back({name, [o, p] { return p.read(o).toInt(); },
                         [o, p, isEnum, type](int v) {
                             if (isEnum && !p.enumerator().valueToKey(v))
                                 return false;
                             if (type == QMetaType::Bool)
                                 return p.write(o, v != 0);
                             if (type == QMetaType::UInt && v < 0)
                                 return false;
                             return p.write(o, v);
                         }});
    }
}

std::vector<NumberProperty> NumberProperties(QObject* o)
{
    std::vector<NumberProperty> props;
    if (auto* w = qobject_cast<QWidget*>(o)) {
        props.push_back(BoundsSide("Left", w, &QRect::x, &QRect::moveLeft, false));
        props.push_back(BoundsSide("Top", w, &QRect::y, &QRect::moveTop, false));
        props.push_back(BoundsSide("Width", w, &QRect::width, &QRect::setWidth, true));
        props.push_back(BoundsSide("Height", w, &QRect::height, &QRect::setHeight, true));
        // The widget's own switches, not the ones it inherits from its parents.
        props.push_back(Switch(
            "Enabled", w, [w] { return !w->testAttribute(Qt::WA_ForceDisabled); }, &QWidget::setEnabled));
        props.push_back(Switch(
            "Visible", w, [w] { return !w->isHidden(); }, &QWidget::setVisible));
        if (w->isWindow() && !qobject_cast<QMenu*>(w))
            props.push_back(Number(
                "WindowState", [w] { return WindowStateOrdinal(w); },
                [w](int v) { return SetWindowStateOrdinal(w, v); }));
    } else if (auto* a = qobject_cast<QAction*>(o)) {
        props.push_back(Switch(
            "Enabled", a, [a] { return a->isEnabled(); }, &QAction::setEnabled));
        props.push_back(Switch(
            "Visible", a, [a] { return a->isVisible(); }, &QAction::setVisible));
        props.push_back(Switch(
            "Checked", a, [a] { return a->isChecked(); }, &QAction::setChecked));
    }
    AddOwnNumberProperties(o, props);
    return props;
}

} // namespace

void MarkRunTimeText(QObject* object)
{
    object->setProperty(kRunTimeTextProperty, true);
}

namespace {

void ApplyLanguageTexts(const std::string& fileName, QObject* form)
{
    IniFile ini(fileName);
    const std::string section = form->objectName().toStdString();
    Walk(form, true, [&](QObject* o) {
        const std::vector<TextProperty> props = TextProperties(o, o == form);
        if (props.empty())
            return Visit::Skip;
        if (o->objectName() == kMainFormName || RunTimeText(o))
            return Visit::Descend;
        for (const TextProperty& p : props) {
            const QString current = p.get();
            const QString value =
                QString::fromStdString(ini.ReadString(section, Key(o, p.name), current.toStdString()));
            if (value != current)
                p.set(value);
        }
        return Visit::Descend;
    });
}

} // namespace

void ApplyFormLanguage(const std::string& fileName, QObject* form)
{
    if (!form || fileName.empty() || IsUnnamed(form))
        return;
    // The shipped texts first, then the user's own over them.
    const std::string shipped = ShippedCounterpart(fileName);
    if (!shipped.empty())
        ApplyLanguageTexts(shipped, form);
    ApplyLanguageTexts(fileName, form);
}

void SaveFormLanguage(const std::string& fileName, QObject* form)
{
    if (!form || IsUnnamed(form))
        return;
    if (fileName.empty())
        throw IniWriteError(fileName, ENOENT);
    IniFile ini(fileName);
    const std::string section = form->objectName().toStdString();
    Walk(form, true, [&](QObject* o) {
        const std::vector<TextProperty> props = TextProperties(o, o == form);
        if (props.empty())
            return Visit::Skip;
        if (o->objectName() == kMainFormName || BoundToAction(o) || RunTimeText(o))
            return Visit::Descend;
        for (const TextProperty& p : props) {
            const QString value = p.get();
            if (Storable(value))
                ini.WriteString(section, Key(o, p.name), value.toStdString());
        }
        return Visit::Descend;
    });
    ini.Flush();
}

void LoadControlLayout(const std::string& fileName, QObject* control, bool recurse)
{
    if (!control || fileName.empty() || IsUnnamed(control))
        return;
    IniFile ini(fileName);
    const std::string section = control->objectName().toStdString();
    Walk(control, recurse, [&](QObject* o) {
        const std::vector<NumberProperty> props = NumberProperties(o);
        if (props.empty())
            return Visit::Skip;
        for (const NumberProperty& p : props) {
            const std::string key = o->objectName().toStdString() + "." + p.name.toStdString();
            const int current = p.get();
            const int value = ini.ReadInteger(section, key, current);
            if (value != current)
                p.set(value);
        }
        return Visit::Descend;
    });
}

void SaveControlLayout(const std::string& fileName, QObject* control, bool recurse)
{
    if (!control || IsUnnamed(control))
        return;
    if (fileName.empty())
        throw IniWriteError(fileName, ENOENT);
    IniFile ini(fileName);
    const std::string section = control->objectName().toStdString();
    Walk(control, recurse, [&](QObject* o) {
        const std::vector<NumberProperty> props = NumberProperties(o);
        if (props.empty())
            return Visit::Skip;
        if (BoundToAction(o))
            return Visit::DescendAlways;
        for (const NumberProperty& p : props) {
            if (p.name == QLatin1String("Visible") && o->objectName() == kMainFormName)
                continue;
            const std::string key = o->objectName().toStdString() + "." + p.name.toStdString();
            ini.WriteInteger(section, key, p.get());
        }
        return Visit::Descend;
    });
    ini.Flush();
}

} // namespace morvane
