#include "app/AccessibleControl.h"

#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickWindow>

namespace {

// A progress bar offers its value as Qt's value-based roles do: value, minimumValue and
// maximumValue.
bool isProgressBar(const QObject *object)
{
    return object->property("value").isValid() && object->property("minimumValue").isValid() &&
           object->property("maximumValue").isValid();
}

QAccessibleInterface *makeAccessibleControl(const QString &, QObject *object)
{
    auto *item = qobject_cast<QQuickItem *>(object);
    if (!item)
        return nullptr;
    if (object->inherits("QQuickAbstractButton"))
        return new AccessibleControl(item, AccessibleControl::Kind::Button);
    if (isProgressBar(object))
        return new AccessibleControl(item, AccessibleControl::Kind::ProgressBar);
    return nullptr;
}

} // namespace

AccessibleControl::AccessibleControl(QQuickItem *item, Kind itemKind)
    : QAccessibleObject(item)
    , kind(itemKind)
{
    if (kind == Kind::ProgressBar)
        QQmlProperty(item, QStringLiteral("value"))
            .connectNotifySignal(this, SLOT(announceValue()));
}

void AccessibleControl::install()
{
    // Qt Quick installs its factory when its library loads; the one installed last asks first.
    QAccessible::installFactory(makeAccessibleControl);
}

QQuickItem *AccessibleControl::item() const
{
    return static_cast<QQuickItem *>(object());
}

// The item's Accessible properties, read from the attached object (a child of the item) without
// creating one.
QVariant AccessibleControl::attached(const char *name) const
{
    for (const QObject *child : item()->children())
        if (child->inherits("QQuickAccessibleAttached"))
            return child->property(name);
    return QVariant();
}

QWindow *AccessibleControl::window() const
{
    return item()->window();
}

QAccessibleInterface *AccessibleControl::parent() const
{
    QQuickWindow *shownIn = item()->window();
    for (QQuickItem *up = item()->parentItem(); up; up = up->parentItem()) {
        if (shownIn && up == shownIn->contentItem())
            return QAccessible::queryAccessibleInterface(shownIn);
        if (QAccessibleInterface *node = QAccessible::queryAccessibleInterface(up))
            return node;
    }
    return nullptr;
}

// Caption, label and frame are all in the name and value.
QAccessibleInterface *AccessibleControl::child(int) const
{
    return nullptr;
}

int AccessibleControl::childCount() const
{
    return 0;
}

int AccessibleControl::indexOfChild(const QAccessibleInterface *) const
{
    return -1;
}

QString AccessibleControl::text(QAccessible::Text type) const
{
    if (type == QAccessible::Description)
        return attached("description").toString();
    if (type != QAccessible::Name)
        return QString();
    const QString name = attached("name").toString();
    return name.isEmpty() ? item()->property("text").toString() : name;
}

QAccessible::Role AccessibleControl::role() const
{
    return kind == Kind::Button ? QAccessible::Button : QAccessible::ProgressBar;
}

QAccessible::State AccessibleControl::state() const
{
    const QQuickItem *shown = item();
    QAccessible::State state;
    state.invisible = !shown->isVisible() || qFuzzyIsNull(shown->opacity()) || !shown->window() ||
                      !shown->window()->isVisible();
    state.disabled = !shown->isEnabled();
    state.focusable = shown->activeFocusOnTab() || attached("focusable").toBool();
    state.focused = shown->hasActiveFocus();
    state.pressed = kind == Kind::Button && shown->property("pressed").toBool();
    return state;
}

QRect AccessibleControl::rect() const
{
    const QQuickItem *shown = item();
    if (!shown->window() || !shown->isVisible())
        return QRect();
    const QPoint topLeft = shown->mapToScene(QPointF(0, 0)).toPoint();
    return QRect(shown->window()->mapToGlobal(topLeft), shown->size().toSize());
}

void *AccessibleControl::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ValueInterface && kind == Kind::ProgressBar)
        return static_cast<QAccessibleValueInterface *>(this);
    if (type == QAccessible::ActionInterface && kind == Kind::Button)
        return static_cast<QAccessibleActionInterface *>(this);
    return QAccessibleObject::interface_cast(type);
}

QVariant AccessibleControl::currentValue() const
{
    return item()->property("value");
}

// The bar shows what the window tells it; assistive technology only reads it.
void AccessibleControl::setCurrentValue(const QVariant &) {}

QVariant AccessibleControl::maximumValue() const
{
    return item()->property("maximumValue");
}

QVariant AccessibleControl::minimumValue() const
{
    return item()->property("minimumValue");
}

QVariant AccessibleControl::minimumStepSize() const
{
    return 0;
}

QStringList AccessibleControl::actionNames() const
{
    return {pressAction()};
}

void AccessibleControl::doAction(const QString &actionName)
{
    if (actionName == pressAction() && item()->isEnabled() && item()->isVisible())
        QMetaObject::invokeMethod(item(), "clicked");
}

QStringList AccessibleControl::keyBindingsForAction(const QString &actionName) const
{
    return actionName == pressAction() ? QStringList{QStringLiteral("Space")} : QStringList();
}

void AccessibleControl::announceValue()
{
    QAccessibleValueChangeEvent event(static_cast<QAccessibleInterface *>(this), currentValue());
    QAccessible::updateAccessibility(&event);
}
