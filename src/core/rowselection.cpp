#include "core/rowselection.h"

#include <QAbstractItemModel>

#include <algorithm>

RowSelection::RowSelection(QObject *parent)
    : QObject(parent)
{
    connect(&m_selection, &QItemSelectionModel::selectionChanged, this, &RowSelection::changed);
}

QAbstractItemModel *RowSelection::model() const
{
    return m_model;
}

void RowSelection::setModel(QAbstractItemModel *model)
{
    if (m_model == model)
        return;
    if (m_model)
        m_model->disconnect(this);
    clear();
    setAnchor(-1);
    // QItemSelectionModel drops its selection on a reset without saying so, once the rows are gone; the
    // choice is dropped here before, and said, so that nothing bound to it reads rows that have gone.
    if (model) {
        connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
            clear();
            setAnchor(-1);
        });
        // Rows that move carry their choice with them, under new numbers.
        connect(model, &QAbstractItemModel::rowsInserted, this, &RowSelection::changed);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &RowSelection::changed);
        connect(model, &QAbstractItemModel::layoutChanged, this, &RowSelection::changed);
    }
    m_model = model;
    m_selection.setModel(model);
    emit modelChanged();
}

QVariantList RowSelection::rows() const
{
    QVariantList rows;
    for (const QModelIndex &index : m_selection.selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end(), [](const QVariant &a, const QVariant &b) { return a.toInt() < b.toInt(); });
    return rows;
}

int RowSelection::count() const
{
    return m_selection.selectedRows().size();
}

int RowSelection::anchor() const
{
    return m_anchor;
}

bool RowSelection::click(int row, int modifiers)
{
    if (!indexOf(row).isValid())
        return false;
    if (modifiers & Qt::ControlModifier) {
        toggle(row);
        return false;
    }
    if (modifiers & Qt::ShiftModifier) {
        selectRun(m_anchor < 0 ? row : m_anchor, row);
        return false;
    }
    m_selection.select(indexOf(row), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    setAnchor(row);
    return true;
}

void RowSelection::toggle(int row)
{
    const QModelIndex index = indexOf(row);
    if (!index.isValid())
        return;
    m_selection.select(index, QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
    setAnchor(row);
}

int RowSelection::extend(int current, int step)
{
    const int rowCount = model() ? model()->rowCount() : 0;
    if (rowCount == 0)
        return current;
    if (m_anchor < 0)
        setAnchor(qMax(current, 0));
    const int next = qBound(0, current + step, rowCount - 1);
    selectRun(m_anchor, next);
    return next;
}

void RowSelection::selectAll()
{
    const int rowCount = model() ? model()->rowCount() : 0;
    if (rowCount > 0)
        selectRun(0, rowCount - 1);
}

bool RowSelection::clear()
{
    if (!m_selection.hasSelection())
        return false;
    m_selection.clearSelection();
    return true;
}

void RowSelection::deselect(const QVariantList &rows)
{
    QItemSelection left;
    for (const QVariant &row : rows) {
        const QModelIndex index = indexOf(row.toInt());
        if (index.isValid())
            left.select(index, index);
    }
    if (!left.isEmpty())
        m_selection.select(left, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
}

bool RowSelection::isSelected(int row) const
{
    const QModelIndex index = indexOf(row);
    return index.isValid() && m_selection.isRowSelected(row, QModelIndex());
}

void RowSelection::selectRun(int from, int to)
{
    const QModelIndex first = indexOf(qMin(from, to));
    const QModelIndex last = indexOf(qMax(from, to));
    if (!first.isValid() || !last.isValid())
        return;
    m_selection.select(QItemSelection(first, last), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void RowSelection::setAnchor(int row)
{
    if (m_anchor == row)
        return;
    m_anchor = row;
    emit anchorChanged();
}

QModelIndex RowSelection::indexOf(int row) const
{
    return model() && row >= 0 ? model()->index(row, 0) : QModelIndex();
}
