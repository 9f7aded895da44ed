#pragma once

#include <QAccessibleObject>
#include <QObject>

class QQuickItem;

// What assistive technology gets of the window's buttons and of its progress bar. Qt Quick 6.4
// reports a disabled button as enabled and gives a progress bar no value, so these two kinds of
// item get this interface instead of Qt's; every other item keeps Qt's own.
class AccessibleControl : public QObject,
                          public QAccessibleObject,
                          public QAccessibleValueInterface,
                          public QAccessibleActionInterface
{
    Q_OBJECT
public:
    enum class Kind { Button, ProgressBar };

    AccessibleControl(QQuickItem *item, Kind itemKind);

    // Puts the interface in front of Qt Quick's; once, before the window is queried.
    static void install();

    QWindow *window() const override;
    QAccessibleInterface *parent() const override;
    QAccessibleInterface *child(int index) const override;
    int childCount() const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QString text(QAccessible::Text type) const override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    QRect rect() const override;
    void *interface_cast(QAccessible::InterfaceType type) override;

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant &value) override;
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override;

    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;
    QStringList keyBindingsForAction(const QString &actionName) const override;

private slots:
    void announceValue();

private:
    QQuickItem *item() const;
    QVariant attached(const char *name) const;

    Kind kind;
};
