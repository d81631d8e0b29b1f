#include "app/accessibility.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QQuickItem>
#include <QQuickWindow>

namespace {

/// A single-line text field whose echo mode hides its text: the same role, states and navigation as
/// Qt Quick gives it, with the text read from what the field displays (mask characters or nothing).
class PasswordFieldAccessible : public QAccessibleObject,
                                public QAccessibleTextInterface,
                                public QAccessibleActionInterface
{
public:
    explicit PasswordFieldAccessible(QQuickItem *item)
        : QAccessibleObject(item)
    {
    }

    QQuickItem *item() const { return static_cast<QQuickItem *>(object()); }
    QString shown() const { return item()->property("displayText").toString(); }

    QWindow *window() const override { return item()->window(); }

    QAccessibleInterface *parent() const override
    {
        // The nearest ancestor that has an accessible of its own, as Qt Quick's own items count it.
        QQuickWindow *window = item()->window();
        QQuickItem *content = window ? window->contentItem() : nullptr;
        for (QQuickItem *above = item()->parentItem(); above; above = above->parentItem()) {
            if (above == content)
                return QAccessible::queryAccessibleInterface(window);
            if (QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(above))
                return iface;
        }
        return nullptr;
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    QString text(QAccessible::Text type) const override
    {
        switch (type) {
        case QAccessible::Name: {
            // Qt Quick withholds the name given in QML from a field it knows to hide its text; the
            // placeholder, the field's label while it is empty, names it then.
            const QString name = attachedProperty("name");
            return name.isEmpty() ? item()->property("placeholderText").toString() : name;
        }
        case QAccessible::Description:
            return attachedProperty("description");
        case QAccessible::Value:
            return shown();
        default:
            return QString();
        }
    }

    QRect rect() const override
    {
        QQuickWindow *window = item()->window();
        if (!window)
            return QRect();
        const QPoint topLeft = window->mapToGlobal(item()->mapToScene(QPointF(0, 0)).toPoint());
        return QRect(topLeft, QSize(int(item()->width()), int(item()->height())));
    }

    QAccessible::Role role() const override { return QAccessible::EditableText; }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.passwordEdit = true;
        state.focusable = true;
        state.focused = item()->hasActiveFocus();
        state.editable = !item()->property("readOnly").toBool();
        state.readOnly = !state.editable;
        state.selectableText = true;
        state.invisible = !item()->isVisible();
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface *>(this);
        return nullptr;
    }

    // Text: offsets count the characters shown, which are as many as the field holds.
    void selection(int index, int *start, int *end) const override
    {
        *start = *end = 0;
        if (index == 0 && selectionCount() == 1) {
            *start = item()->property("selectionStart").toInt();
            *end = item()->property("selectionEnd").toInt();
        }
    }
    int selectionCount() const override
    {
        return item()->property("selectionStart").toInt() != item()->property("selectionEnd").toInt() ? 1 : 0;
    }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override { QMetaObject::invokeMethod(item(), "deselect"); }
    void setSelection(int, int start, int end) override
    {
        QMetaObject::invokeMethod(item(), "select", Q_ARG(int, start), Q_ARG(int, end));
    }
    int cursorPosition() const override { return item()->property("cursorPosition").toInt(); }
    void setCursorPosition(int position) override { item()->setProperty("cursorPosition", position); }
    QString text(int start, int end) const override
    {
        const QString all = shown();
        if (end < 0 || end > all.size())
            end = all.size();
        return start < 0 || start >= end ? QString() : all.mid(start, end - start);
    }
    // Qt's own word and line search loops for ever on a text without words (mask characters), so a
    // reader asking for the word at the caret would hang the program.
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int *start, int *end) const override
    {
        return unit(offset, type, -1, start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int *start, int *end) const override
    {
        return unit(offset, type, 1, start, end);
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int *start, int *end) const override
    {
        return unit(offset, type, 0, start, end);
    }
    int characterCount() const override { return shown().size(); }
    QRect characterRect(int offset) const override
    {
        QRectF local;
        QMetaObject::invokeMethod(item(), "positionToRectangle", Q_RETURN_ARG(QRectF, local), Q_ARG(int, offset));
        QQuickWindow *window = item()->window();
        if (!window)
            return QRect();
        return QRect(window->mapToGlobal(item()->mapToScene(local.topLeft()).toPoint()), local.size().toSize());
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        for (int offset = 0; offset < characterCount(); ++offset) {
            if (characterRect(offset).united(characterRect(offset + 1)).contains(point))
                return offset;
        }
        return -1;
    }
    void scrollToSubstring(int, int) override { }
    QString attributes(int offset, int *start, int *end) const override
    {
        *start = *end = offset;
        return QString();
    }

    QStringList actionNames() const override { return { setFocusAction() }; }
    void doAction(const QString &name) override
    {
        if (name == setFocusAction())
            item()->forceActiveFocus();
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    /// The shown text has nothing to tell apart but characters: any larger unit is the whole of it.
    /// step -1 gives the unit before the one at offset, 1 the one after it.
    QString unit(int offset, QAccessible::TextBoundaryType type, int step, int *start, int *end) const
    {
        const QString all = shown();
        *start = *end = -1;
        if (offset == -1)
            offset = all.size();
        if (offset < 0 || offset > all.size())
            return QString();
        if (type == QAccessible::CharBoundary) {
            const int at = offset + step;
            if (at < 0 || at >= all.size())
                return QString();
            *start = at;
            *end = at + 1;
            return all.mid(at, 1);
        }
        if (step != 0 || all.isEmpty())
            return QString();
        *start = 0;
        *end = all.size();
        return all;
    }

    /// A property of the item's Accessible attached object (name, description), set in QML.
    QString attachedProperty(const char *name) const
    {
        for (QObject *child : item()->children()) {
            if (qstrcmp(child->metaObject()->className(), "QQuickAccessibleAttached") == 0)
                return child->property(name).toString();
        }
        return QString();
    }
};

QAccessibleInterface *passwordFieldFactory(const QString &className, QObject *object)
{
    // Asked class by class from the most derived one; Qt Quick's own factory answers only at
    // "QQuickItem", so this one is asked first whatever the order of installation.
    if (className != QLatin1String("QQuickTextInput"))
        return nullptr;
    auto *item = qobject_cast<QQuickItem *>(object);
    if (!item || item->property("echoMode").toInt() == 0) // TextInput.Normal: shown as it is
        return nullptr;
    return new PasswordFieldAccessible(item);
}

} // namespace

void installPasswordFieldAccessibility()
{
    QAccessible::installFactory(passwordFieldFactory);
}
