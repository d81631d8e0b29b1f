#pragma once
#include "core/common.h"

#include <QObject>

/// A list of receipts shown as rows, for what acts on rows of it (the exports of rows chosen).
class ReceiptRows
{
public:
    virtual ~ReceiptRows() = default;
    /// The receipt of a row; an empty one for a row that does not exist.
    virtual PosData recordAt(int row) const = 0;
};

#define ReceiptRows_iid "Tillmark.ReceiptRows"
Q_DECLARE_INTERFACE(ReceiptRows, ReceiptRows_iid)
