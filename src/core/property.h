#pragma once
#include <utility>

/// The body of a property setter: stores value and emits the notify signal changed of object, unless
/// the member holds that value already. A page bound to the property then hears of a change once, and
/// only of a change. Usage: updateProperty(m_isLoading, value, this, &StreamsList::isLoadingChanged);
template <typename Member, typename Value, typename Object, typename Signal>
void updateProperty(Member &member, Value &&value, Object *object, Signal changed)
{
    if (member == value)
        return;
    member = std::forward<Value>(value);
    (object->*changed)(); // a signal: calling it emits it
}
