#pragma once
#include "core/common.h"

#include <QObject>
#include <QStringList>

/// Says why a receipt stands out (the names of the exception rules that fire on it), for the lists and
/// marks of receipts that show it. The rules themselves are another part's: this is all the receipts'
/// side needs of them.
class ReceiptFlagger : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    /// The reasons, in their order; none for a receipt that does not stand out.
    virtual QStringList flagsOf(const PosData &receipt) const = 0;

signals:
    /// What flagsOf() says of a receipt may have changed.
    void flaggingChanged();
};
