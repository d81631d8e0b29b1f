#include "app/notifier.h"

Notifier *Notifier::s_inst = nullptr;

Notifier::Notifier(QObject *parent)
    : QObject(parent)
{
    s_inst = this;
}

Notifier::~Notifier()
{
    if (s_inst == this)
        s_inst = nullptr;
}

Notifier *Notifier::get()
{
    return s_inst;
}

QString Notifier::message() const
{
    return m_messages.isEmpty() ? QString() : m_messages.constFirst();
}

bool Notifier::busy() const
{
    return !m_busy.isEmpty();
}

void Notifier::show(const QString &text)
{
    if (text.isEmpty() || (!m_messages.isEmpty() && m_messages.constLast() == text))
        return;
    m_messages.append(text);
    emit messageChanged();
}

void Notifier::dismiss()
{
    if (m_messages.isEmpty())
        return;
    m_messages.removeFirst();
    emit messageChanged();
}

void Notifier::setBusy(QObject *holder, bool busy)
{
    if (!holder || m_busy.contains(holder) == busy)
        return;
    const bool wasBusy = this->busy();
    if (busy) {
        m_busy.insert(holder);
        connect(holder, &QObject::destroyed, this, [this, holder] { setBusy(holder, false); });
    } else {
        m_busy.remove(holder);
        disconnect(holder, &QObject::destroyed, this, nullptr);
    }
    if (this->busy() != wasBusy)
        emit busyChanged();
}
